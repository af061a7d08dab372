// libFuzzer target for the serial link's receive path with the storage
// behind it, wired as the main window wires them. Built only with clang and
// -DDOSE_FUZZ=ON (see tools/CMakeLists.txt); run from the build directory:
//
//     tools/fuzz_receive -max_total_time=60 [CORPUS_DIR]
//
// Input: the first byte chooses the piece size the rest arrives in (0: all
// at once, otherwise 1..64 bytes), the rest is what the device "sends". Each
// input starts on an empty receive buffer. Besides crashes, the target
// stops (abort) on anything the link or the storage must never do: a buffer
// beyond the largest reply, a message that is not exactly the bytes that
// arrived, an acknowledgement text left untaken, a failed store, or a stored
// reading that no emitted message carried.

#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "core/device/SettingsAdpater.h"
#include "core/DataBase.h"
#include "core/device/SerialPort.h"
#include "core/readings/mydeal_thread.h"
#include "sim/SimPty.h"

namespace {

const QByteArray kClearOk = QByteArrayLiteral("clear ok");
const QByteArray kSetidOk = QByteArrayLiteral("setid ok");
// The database is checked and emptied after this many inputs.
constexpr int kCheckEvery = 256;

void quiet(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_receive: %s\n", what);
    std::abort();
}

int word(const QByteArray& bytes, int pos)
{
    return quint8(bytes.at(pos)) | (quint8(bytes.at(pos + 1)) << 8);
}

// Address, time and dose of a record, as the database row will show them.
QString readingKey(int slaveId, const QString& dataTime, long hundredths)
{
    return QStringLiteral("%1|%2|%3").arg(slaveId).arg(dataTime).arg(hundredths);
}

struct Harness
{
    QTemporaryDir dir{QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                          ? QStringLiteral("/dev/shm/fuzz_receive-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/fuzz_receive-XXXXXX")};
    std::unique_ptr<SettingsAdpater> settings;
    std::unique_ptr<DataBase> database;
    std::unique_ptr<SerialPort> link;
    std::unique_ptr<mydeal_thread> worker;
    std::unique_ptr<SimPty> sim;

    QByteArray sinceTake;
    bool feeding = false;
    bool taken = false;
    bool storeFailed = false;
    QSet<QString> emitted;
    int inputs = 0;

    bool setUp()
    {
        if (!dir.isValid() || !QDir::setCurrent(dir.path()))
            return false;
        settings = std::make_unique<SettingsAdpater>(dir.filePath(QStringLiteral("zudovi.ini")),
                                                     QSettings::IniFormat);
        database = std::make_unique<DataBase>();
        if (!database->createTables())
            return false;
        link = std::make_unique<SerialPort>(nullptr, settings.get(), database.get());
        worker = std::make_unique<mydeal_thread>(nullptr, database.get(), settings.get());
        link->setAwaitStorage(true);
        QObject::connect(link.get(), &SerialPort::MySave_data, [this](const QString& text) { onMessage(text); });
        QObject::connect(link.get(), &SerialPort::MySave_data,
                         [this](const QString& text) { link->dataStoreResult(worker->store(text)); });
        QObject::connect(link.get(), &SerialPort::data_Result,
                         [this](int, const QString&, int, bool ok) { onResult(ok); });

        sim = std::make_unique<SimPty>(1);
        if (!sim->isValid())
            return false;
        sim->setSilent(true);
        PortDescription d;
        d.portName = d.systemLocation = sim->slavePath();
        SerialPort::setPortLister([d] { return QList<PortDescription>{d}; });
        link->openPorts();
        return link->portStates().size() == 1;
    }

    void onMessage(const QString& text)
    {
        const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
        if (!feeding || bytes.size() < 4 || bytes.size() != 4 + 7 * word(bytes, 2))
            fail("malformed message");
        if (!sinceTake.startsWith(bytes))
            fail("message is not the bytes that arrived");
        const int address = word(bytes, 0);
        for (int pos = 4; pos + 7 <= bytes.size(); pos += 7) {
            const QString time = QLatin1String("20") + text.mid(2 * pos, 8) + QLatin1String("0000");
            emitted.insert(readingKey(address, time, word(bytes, pos + 5)));
        }
    }

    void onResult(bool ok)
    {
        if (!feeding)
            fail("report outside a feed");
        if (taken)
            fail("two takes from one piece");
        if (!ok)
            storeFailed = true;
        taken = true;
    }

    void feed(const QByteArray& piece)
    {
        const int searchFrom = qMax(0, sinceTake.size() - kClearOk.size() + 1);
        sinceTake += piece;
        feeding = true;
        taken = false;
        link->receiveBytes(0, piece);
        feeding = false;
        if (storeFailed)
            fail("a reply was reported as not stored");
        const ComPortState& state = link->portStates().at(0);
        if (state.rxHex.size() > SerialPort::kMaxReplyHex)
            fail("buffer beyond the largest reply");
        if (taken) {
            sinceTake.clear();
            if (!state.rxHex.isEmpty())
                fail("buffer kept after a take");
            return;
        }
        if (state.rxHex != sinceTake.toHex())
            fail("buffer differs from the bytes that arrived");
        if (sinceTake.indexOf(kClearOk, searchFrom) >= 0 || sinceTake.indexOf(kSetidOk, searchFrom) >= 0)
            fail("acknowledgement text left in the buffer");
    }

    // Every stored reading was carried by a message; then start afresh.
    void checkAndEmpty()
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fuzz-check"));
            db.setDatabaseName(dir.filePath(QStringLiteral("database.db")));
            if (!db.open())
                fail("cannot open the database");
            QSqlQuery q(db);
            q.exec(QStringLiteral("select slaveId, dataTime, probeValue from Realdata"));
            while (q.next()) {
                const long hundredths = std::lround(q.value(2).toDouble() * 100.0);
                if (!emitted.contains(readingKey(q.value(0).toInt(), q.value(1).toString(), hundredths)))
                    fail("stored reading no message carried");
            }
            for (const char* table : {"Realdata", "Monthdata", "Yeardata"})
                q.exec(QStringLiteral("delete from %1").arg(QLatin1String(table)));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fuzz-check"));
        emitted.clear();
    }

    void run(const uint8_t* data, size_t size)
    {
        if (size == 0)
            return;
        const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, int(size) - 1);
        const int piece = data[0] == 0 ? qMax(1, bytes.size()) : data[0] % 64 + 1;
        for (int pos = 0; pos < bytes.size(); pos += piece)
            feed(bytes.mid(pos, piece));

        // Every input starts on an empty buffer: an acknowledgement text
        // takes whatever is left (cheaper than reopening the port).
        if (!sinceTake.isEmpty()) {
            feed(kClearOk);
            if (!sinceTake.isEmpty())
                fail("an acknowledgement did not empty the buffer");
        }

        if (++inputs % kCheckEvery == 0)
            checkAndEmpty();
    }
};

Harness* harness = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    static Harness h;
    qInstallMessageHandler(quiet);
    if (!h.setUp())
        fail("set-up failed");
    harness = &h;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    harness->run(data, size);
    return 0;
}
