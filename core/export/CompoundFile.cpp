// Laying out the compound file an .xls workbook lives in: sectors, FAT and DIFAT chains, directory and mini stream.

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
            return fail(QStringLiteral("复合文件的流名无效：“%1”").arg(s.name));
        if (seen.contains(s.name.toUpper()))
            return fail(QStringLiteral("复合文件的流名重复：“%1”").arg(s.name));
        seen.insert(s.name.toUpper());
        if (s.data.size() > 0x7FFFFFFF - 64 * kSectorSize)
            return fail(QStringLiteral("内容过多，一个文件放不下（流“%1”）").arg(s.name));
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
