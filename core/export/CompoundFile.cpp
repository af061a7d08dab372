#include "core/export/CompoundFile.h"
#include "core/export/LittleEndian.h"

#include <QSet>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

constexpr int kEntrySize = 128;
constexpr int kEntriesPerSector = CompoundFile::kSectorSize / kEntrySize;
constexpr int kIdsPerSector = CompoundFile::kSectorSize / 4;
constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr uint8_t kTypeEmpty = 0;
constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;
constexpr uint8_t kRed = 0;
constexpr uint8_t kBlack = 1;

uint32_t sectorsFor(qint64 bytes, int sectorSize)
{
    return uint32_t((bytes + sectorSize - 1) / sectorSize);
}

// Directory siblings are ordered by name length first, then by upper-cased name.
bool nameLess(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return a.size() < b.size();
    return a.toUpper() < b.toUpper();
}

struct DirEntry
{
    QString name;
    uint8_t type = kTypeEmpty;
    uint8_t color = kBlack;
    uint32_t left = CompoundFile::kNoStream;
    uint32_t right = CompoundFile::kNoStream;
    uint32_t child = CompoundFile::kNoStream;
    uint32_t start = CompoundFile::kEndOfChain;
    uint64_t size = 0;
};

void writeEntry(char* p, const DirEntry& e)
{
    std::memset(p, 0, kEntrySize);
    if (e.type != kTypeEmpty) {
        const int chars = std::min<int>(e.name.size(), 31);
        for (int i = 0; i < chars; ++i)
            put16(p + 2 * i, e.name.at(i).unicode());
        put16(p + 0x40, uint16_t((chars + 1) * 2));
    }
    p[0x42] = char(e.type);
    p[0x43] = char(e.color);
    put32(p + 0x44, e.left);
    put32(p + 0x48, e.right);
    put32(p + 0x4C, e.child);
    put32(p + 0x74, e.type == kTypeEmpty ? 0 : e.start);
    put32(p + 0x78, uint32_t(e.size & 0xFFFFFFFFu));
    put32(p + 0x7C, 0);
}

} // namespace

bool CompoundFile::build(const QVector<Stream>& streams, QByteArray* out, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    QSet<QString> seen;
    for (const Stream& s : streams) {
        if (s.name.isEmpty() || s.name.size() > 31)
            return fail(QStringLiteral("invalid stream name \"%1\"").arg(s.name));
        if (seen.contains(s.name.toUpper()))
            return fail(QStringLiteral("duplicate stream name \"%1\"").arg(s.name));
        seen.insert(s.name.toUpper());
        if (s.data.size() > 0x7FFFFFFF - 64 * kSectorSize)
            return fail(QStringLiteral("stream \"%1\" is too large").arg(s.name));
    }

    const int n = streams.size();
    QVector<uint32_t> start(n, kEndOfChain);
    QVector<bool> inMini(n, false);

    // Small streams go to the mini stream so that readers following the
    // cutoff rule find them where they look.
    QByteArray mini;
    QVector<uint32_t> miniFat;
    for (int i = 0; i < n; ++i) {
        const qint64 size = streams[i].data.size();
        if (size == 0 || size >= kMiniStreamCutoff)
            continue;
        inMini[i] = true;
        const uint32_t first = uint32_t(mini.size() / kMiniSectorSize);
        const uint32_t count = sectorsFor(size, kMiniSectorSize);
        for (uint32_t k = 0; k < count; ++k)
            miniFat.append(k + 1 < count ? first + k + 1 : kEndOfChain);
        mini.append(streams[i].data);
        mini.append(QByteArray(int(count * kMiniSectorSize - size), '\0'));
        start[i] = first;
    }

    // Everything but the FAT and DIFAT is laid out as contiguous chains.
    QVector<uint32_t> fat;
    auto allocChain = [&fat](qint64 bytes) -> uint32_t {
        const uint32_t count = sectorsFor(bytes, kSectorSize);
        if (count == 0)
            return kEndOfChain;
        const uint32_t first = uint32_t(fat.size());
        for (uint32_t k = 0; k < count; ++k)
            fat.append(k + 1 < count ? first + k + 1 : kEndOfChain);
        return first;
    };
    for (int i = 0; i < n; ++i)
        if (!inMini[i])
            start[i] = allocChain(streams[i].data.size());
    const uint32_t miniStart = allocChain(mini.size());
    const uint32_t miniFatStart = allocChain(qint64(miniFat.size()) * 4);
    const uint32_t miniFatSectors = sectorsFor(qint64(miniFat.size()) * 4, kSectorSize);
    const int entryCount = 1 + n;
    const uint32_t dirSectors = sectorsFor(entryCount, kEntriesPerSector);
    const uint32_t dirStart = allocChain(qint64(dirSectors) * kSectorSize);
    const uint32_t dataSectors = uint32_t(fat.size());

    // The FAT must also describe its own sectors and the DIFAT sectors.
    uint32_t fatSectors = 0;
    uint32_t difatSectors = 0;
    for (;;) {
        const uint32_t f = sectorsFor(qint64(dataSectors) + fatSectors + difatSectors, kIdsPerSector);
        const uint32_t x = f > uint32_t(kHeaderDifatEntries)
            ? sectorsFor(f - kHeaderDifatEntries, kIdsPerSector - 1)
            : 0;
        if (f == fatSectors && x == difatSectors)
            break;
        fatSectors = f;
        difatSectors = x;
    }
    const uint32_t fatStart = dataSectors;
    const uint32_t difatStart = dataSectors + fatSectors;
    const uint32_t totalSectors = dataSectors + fatSectors + difatSectors;
    for (uint32_t k = 0; k < fatSectors; ++k)
        fat.append(kFatSect);
    for (uint32_t k = 0; k < difatSectors; ++k)
        fat.append(kDifSect);
    while (uint32_t(fat.size()) < fatSectors * kIdsPerSector)
        fat.append(kFreeSect);

    out->clear();
    out->resize(int(kSectorSize + qint64(totalSectors) * kSectorSize));
    out->fill('\0');
    char* base = out->data();
    auto sector = [base](uint32_t id) { return base + kSectorSize + qint64(id) * kSectorSize; };

    // Header, assembled apart so the compiler can see its bounds.
    char header[kSectorSize] = {};
    char* h = header;
    std::memcpy(h, kSignature, 8);
    put16(h + 0x18, 0x003E);
    put16(h + 0x1A, 0x0003);
    put16(h + 0x1C, 0xFFFE);
    put16(h + 0x1E, 9);
    put16(h + 0x20, 6);
    put32(h + 0x2C, fatSectors);
    put32(h + 0x30, dirStart);
    put32(h + 0x38, kMiniStreamCutoff);
    put32(h + 0x3C, miniFat.isEmpty() ? kEndOfChain : miniFatStart);
    put32(h + 0x40, miniFatSectors);
    put32(h + 0x44, difatSectors ? difatStart : kEndOfChain);
    put32(h + 0x48, difatSectors);
    for (int k = 0; k < kHeaderDifatEntries; ++k)
        put32(h + 0x4C + 4 * k, uint32_t(k) < fatSectors ? fatStart + k : kFreeSect);

    std::memcpy(base, header, kSectorSize);

    // Stream contents.
    for (int i = 0; i < n; ++i)
        if (!inMini[i] && !streams[i].data.isEmpty())
            std::memcpy(sector(start[i]), streams[i].data.constData(), size_t(streams[i].data.size()));
    if (!mini.isEmpty())
        std::memcpy(sector(miniStart), mini.constData(), size_t(mini.size()));
    if (!miniFat.isEmpty()) {
        char* p = sector(miniFatStart);
        for (uint32_t k = 0; k < miniFatSectors * kIdsPerSector; ++k)
            put32(p + 4 * k, k < uint32_t(miniFat.size()) ? miniFat[int(k)] : kFreeSect);
    }

    // Directory: root first, the streams as a balanced red-black tree below it.
    QVector<DirEntry> entries(int(dirSectors) * kEntriesPerSector);
    DirEntry& root = entries[0];
    root.name = QStringLiteral("Root Entry");
    root.type = kTypeRoot;
    root.start = mini.isEmpty() ? kEndOfChain : miniStart;
    root.size = uint64_t(mini.size());
    QVector<int> order(n);
    for (int i = 0; i < n; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&streams](int a, int b) { return nameLess(streams[a].name, streams[b].name); });
    int fullLevels = 0;
    while ((1 << (fullLevels + 1)) - 1 <= n)
        ++fullLevels;
    std::function<uint32_t(int, int, int)> tree = [&](int lo, int hi, int depth) -> uint32_t {
        if (lo > hi)
            return kNoStream;
        const int mid = (lo + hi + 1) / 2;
        const int i = order[mid];
        DirEntry& e = entries[i + 1];
        e.name = streams[i].name;
        e.type = kTypeStream;
        e.color = depth >= fullLevels ? kRed : kBlack;
        e.start = start[i];
        e.size = uint64_t(streams[i].data.size());
        e.left = tree(lo, mid - 1, depth + 1);
        e.right = tree(mid + 1, hi, depth + 1);
        return uint32_t(i + 1);
    };
    root.child = tree(0, n - 1, 0);
    for (int k = 0; k < entries.size(); ++k)
        writeEntry(sector(dirStart) + qint64(k) * kEntrySize, entries[k]);

    // FAT, then the DIFAT sectors listing the FAT sectors past the first 109.
    for (uint32_t k = 0; k < fatSectors; ++k) {
        char* p = sector(fatStart + k);
        for (int j = 0; j < kIdsPerSector; ++j)
            put32(p + 4 * j, fat[int(k * kIdsPerSector + j)]);
    }
    uint32_t listed = kHeaderDifatEntries;
    for (uint32_t k = 0; k < difatSectors; ++k) {
        char* p = sector(difatStart + k);
        for (int j = 0; j < kIdsPerSector - 1; ++j, ++listed)
            put32(p + 4 * j, listed < fatSectors ? fatStart + listed : kFreeSect);
        put32(p + 4 * (kIdsPerSector - 1), k + 1 < difatSectors ? difatStart + k + 1 : kEndOfChain);
    }
    return true;
}

bool CompoundFile::parse(const QByteArray& file)
{
    m_streams.clear();
    m_error.clear();
    auto fail = [this](const QString& why) {
        m_error = why;
        m_streams.clear();
        return false;
    };
    if (file.size() < kSectorSize || std::memcmp(file.constData(), kSignature, 8) != 0)
        return fail(QStringLiteral("not a compound file"));
    const char* h = file.constData();
    const int shift = get16(h + 0x1E);
    if (shift != 9 && shift != 12)
        return fail(QStringLiteral("unsupported sector size"));
    const int ss = 1 << shift;
    const int ids = ss / 4;
    const int miniSize = 1 << get16(h + 0x20);
    if (miniSize != kMiniSectorSize)
        return fail(QStringLiteral("unsupported mini sector size"));
    const uint32_t fatCount = get32(h + 0x2C);
    const uint32_t dirStart = get32(h + 0x30);
    const uint32_t cutoff = get32(h + 0x38);
    const uint32_t miniFatStart = get32(h + 0x3C);
    uint32_t difatNext = get32(h + 0x44);
    const uint32_t difatCount = get32(h + 0x48);
    const qint64 maxSectors = file.size() / ss + 1;
    if (fatCount > maxSectors || difatCount > maxSectors)
        return fail(QStringLiteral("corrupt header"));

    // A short last sector is tolerated and read as zero-padded.
    auto readSector = [&](uint32_t id, QByteArray* buf) {
        const qint64 off = (qint64(id) + 1) * ss;
        if (id >= kDifSect || off >= file.size())
            return false;
        const int avail = int(std::min<qint64>(ss, file.size() - off));
        buf->fill('\0', ss);
        std::memcpy(buf->data(), file.constData() + off, size_t(avail));
        return true;
    };

    QVector<uint32_t> fatIds;
    for (int k = 0; k < kHeaderDifatEntries && uint32_t(fatIds.size()) < fatCount; ++k)
        fatIds.append(get32(h + 0x4C + 4 * k));
    QByteArray buf;
    for (uint32_t k = 0; k < difatCount && uint32_t(fatIds.size()) < fatCount; ++k) {
        if (!readSector(difatNext, &buf))
            return fail(QStringLiteral("corrupt DIFAT"));
        for (int j = 0; j < ids - 1 && uint32_t(fatIds.size()) < fatCount; ++j)
            fatIds.append(get32(buf.constData() + 4 * j));
        difatNext = get32(buf.constData() + 4 * (ids - 1));
    }
    if (uint32_t(fatIds.size()) != fatCount)
        return fail(QStringLiteral("corrupt DIFAT"));
    QVector<uint32_t> fat;
    fat.reserve(int(fatCount) * ids);
    for (uint32_t id : fatIds) {
        if (!readSector(id, &buf))
            return fail(QStringLiteral("corrupt FAT"));
        for (int j = 0; j < ids; ++j)
            fat.append(get32(buf.constData() + 4 * j));
    }

    auto readChain = [&](uint32_t first, qint64 size, QByteArray* out) {
        out->clear();
        if (size >= 0)
            out->reserve(int(std::min<qint64>(size, file.size())));
        uint32_t id = first;
        qint64 steps = 0;
        while (id != kEndOfChain && (size < 0 || out->size() < size)) {
            if (id >= uint32_t(fat.size()) || ++steps > fat.size() || !readSector(id, &buf))
                return false;
            out->append(buf);
            id = fat[int(id)];
        }
        if (size >= 0) {
            if (out->size() < size)
                return false;
            out->truncate(int(size));
        }
        return true;
    };

    QByteArray dir;
    if (!readChain(dirStart, -1, &dir) || dir.size() < kEntrySize)
        return fail(QStringLiteral("corrupt directory"));
    const int entryCount = dir.size() / kEntrySize;
    auto entryAt = [&dir](uint32_t i) { return dir.constData() + qint64(i) * kEntrySize; };
    const char* rootEntry = entryAt(0);
    if (uint8_t(rootEntry[0x42]) != kTypeRoot)
        return fail(QStringLiteral("missing root entry"));

    QByteArray miniStream;
    QVector<uint32_t> miniFat;
    bool miniLoaded = false;
    auto loadMini = [&]() {
        if (miniLoaded)
            return true;
        miniLoaded = true;
        const qint64 rootSize = get32(rootEntry + 0x78);
        if (rootSize > file.size() || !readChain(get32(rootEntry + 0x74), rootSize, &miniStream))
            return false;
        QByteArray raw;
        if (miniFatStart != kEndOfChain && !readChain(miniFatStart, -1, &raw))
            return false;
        for (int j = 0; j + 4 <= raw.size(); j += 4)
            miniFat.append(get32(raw.constData() + j));
        return true;
    };

    QSet<uint32_t> visited;
    QVector<uint32_t> pending{get32(rootEntry + 0x4C)};
    while (!pending.isEmpty()) {
        const uint32_t id = pending.takeLast();
        if (id == kNoStream)
            continue;
        if (id >= uint32_t(entryCount) || visited.contains(id))
            return fail(QStringLiteral("corrupt directory tree"));
        visited.insert(id);
        const char* e = entryAt(id);
        pending.append(get32(e + 0x44));
        pending.append(get32(e + 0x48));
        if (uint8_t(e[0x42]) != kTypeStream)
            continue;
        const int nameBytes = std::min<int>(get16(e + 0x40), 64);
        QString name;
        for (int j = 0; j + 1 < nameBytes - 1; j += 2)
            name.append(QChar(get16(e + j)));
        // Version 3 files may leave garbage in the high half of the size.
        const qint64 size = shift == 9 ? qint64(get32(e + 0x78))
                                       : qint64(get32(e + 0x78)) | (qint64(get32(e + 0x7C)) << 32);
        if (size > file.size())
            return fail(QStringLiteral("stream \"%1\" is larger than the file").arg(name));
        Stream s{name, QByteArray()};
        const uint32_t first = get32(e + 0x74);
        if (size >= qint64(cutoff)) {
            if (!readChain(first, size, &s.data))
                return fail(QStringLiteral("corrupt chain of stream \"%1\"").arg(name));
        } else if (size > 0) {
            if (!loadMini())
                return fail(QStringLiteral("corrupt mini stream"));
            uint32_t m = first;
            int steps = 0;
            while (s.data.size() < size) {
                const qint64 off = qint64(m) * kMiniSectorSize;
                if (m >= uint32_t(miniFat.size()) || ++steps > miniFat.size()
                    || off + kMiniSectorSize > miniStream.size())
                    return fail(QStringLiteral("corrupt mini chain of stream \"%1\"").arg(name));
                s.data.append(miniStream.constData() + off, kMiniSectorSize);
                m = miniFat[int(m)];
            }
            s.data.truncate(int(size));
        }
        m_streams.append(s);
    }
    return true;
}

QStringList CompoundFile::streamNames() const
{
    QStringList names;
    for (const Stream& s : m_streams)
        names << s.name;
    return names;
}

bool CompoundFile::hasStream(const QString& name) const
{
    for (const Stream& s : m_streams)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray CompoundFile::stream(const QString& name) const
{
    for (const Stream& s : m_streams)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return s.data;
    return QByteArray();
}
