// Bad input on the serial line: random and damaged replies pushed through the
// link's receive path, with the storage wired as the main window wires it.
// Nothing may crash or hang, the receive buffers stay bounded, and nothing
// lands in the database that the bytes on the line did not carry.
//
// The test keeps its own model of every port: the bytes that arrived since
// the link last took a reply. Every take must be explained by them (a data
// message is exactly their beginning, an acknowledgement needs its text in
// them), and every stored reading must come from a message the link emitted.
//
// DOSE_TEST_SEED=N repeats a run; the seed in use is printed.

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

#include "app/SettingsAdpater.h"
#include "db/DataBase.h"
#include "device/SerialPort.h"
#include "processing/mydeal_thread.h"
#include "sim/SimDosimeter.h"
#include "sim/SimPty.h"

namespace {

constexpr int kPorts = 2;
constexpr int kReplies = 100000;
const QByteArray kClearOk = QByteArrayLiteral("clear ok");
const QByteArray kSetidOk = QByteArrayLiteral("setid ok");
const int kAddresses[] = {1, 2, 7, 300, 4660, 65535};

quint32 testSeed()
{
    bool ok = false;
    const quint32 fromEnv = qEnvironmentVariable("DOSE_TEST_SEED").toUInt(&ok);
    return ok ? fromEnv : 20240918u;
}

// The link traces every piece it receives; a hundred thousand replies of
// that would drown the test's own output.
QtMessageHandler previousHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (type == QtDebugMsg || type == QtWarningMsg)
        return;
    previousHandler(type, context, msg);
}

int word(const QByteArray& bytes, int pos)
{
    return quint8(bytes.at(pos)) | (quint8(bytes.at(pos + 1)) << 8);
}

int bcd(char byte)
{
    const int high = quint8(byte) >> 4;
    const int low = quint8(byte) & 0x0f;
    return high > 9 || low > 9 ? -1 : high * 10 + low;
}

// The hour a record names, when it names a real one (as the storage reads it).
bool validHour(const QByteArray& record)
{
    const int year = bcd(record.at(0));
    const int month = bcd(record.at(1));
    const int day = bcd(record.at(2));
    const int hour = bcd(record.at(3));
    return year >= 0 && month >= 0 && day >= 0 && hour >= 0 && hour <= 23
        && QDate::isValid(2000 + year, month, day);
}

// (address, hour) and (address, hour, dose) of a record, as compact keys:
// the address, the four time bytes and the dose fill 64 bits exactly.
quint64 hourKey(int address, const QByteArray& record)
{
    quint64 key = quint64(address & 0xffff);
    for (int i = 0; i < 4; ++i)
        key = (key << 8) | quint8(record.at(i));
    return key;
}

quint64 readingKey(int address, const QByteArray& record)
{
    return (hourKey(address, record) << 16) | quint64(word(record, 5));
}

// The same keys for a stored row; false when the row cannot have come from
// any record (a time key of another shape, a dose that is no whole number
// of hundredths).
bool rowKeys(int slaveId, const QString& dataTime, double probeValue, quint64* hour, quint64* reading)
{
    if (slaveId < 0 || slaveId > 65535 || dataTime.size() != 14 || !dataTime.startsWith(QLatin1String("20"))
        || !dataTime.endsWith(QLatin1String("0000")))
        return false;
    const QByteArray digits = dataTime.mid(2, 8).toLatin1();
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    const double hundredths = probeValue * 100.0;
    const long rounded = std::lround(hundredths);
    if (std::fabs(hundredths - double(rounded)) > 1e-6 || rounded < 0 || rounded > 65535)
        return false;
    QByteArray record = QByteArray::fromHex(digits) + '\0' + SimDosimeter::word(int(rounded));
    *hour = hourKey(slaveId, record);
    *reading = readingKey(slaveId, record);
    return true;
}

// What the link has done with the bytes of one port since its last take.
struct PortModel
{
    QByteArray sinceTake;
};

} // namespace

class tst_badinput : public QObject
{
    Q_OBJECT

private:
    quint32 seed = testSeed();
    QRandomGenerator rng{seed};
    QString oldCwd;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SettingsAdpater> settings;
    std::unique_ptr<DataBase> database;
    std::unique_ptr<SerialPort> link;
    std::unique_ptr<mydeal_thread> worker;
    std::vector<std::unique_ptr<SimPty>> sims;

    PortModel model[kPorts];
    int current = -1;          // port being fed
    bool taken = false;        // the link took a reply during the current feed
    QStringList faults;        // what the signal handlers found wrong

    // Readings of the messages the link emitted, and their hours when valid.
    QSet<quint64> emittedReadings;
    QSet<quint64> emittedHours;
    // Readings this test put into well-formed data replies.
    QSet<quint64> sentReadings;
    QList<QByteArray> messages;  // bytes of the messages of the current feed

    qint64 feeds = 0;
    qint64 takes = 0;
    qint64 dataMessages = 0;
    qint64 acks = 0;
    qint64 resyncs = 0;
    qint64 resyncNs = 0;
    qint64 exactTakes = 0;     // well-formed replies seen to come out exactly
    int maxBuffer = 0;

    void fault(const QString& what)
    {
        if (faults.size() < 20)
            faults << what;
    }

    void onMessage(const QString& text)
    {
        ++dataMessages;
        if (current < 0) {
            fault(QStringLiteral("message outside a feed"));
            return;
        }
        const QByteArray hex = text.toLatin1();
        const QByteArray bytes = QByteArray::fromHex(hex);
        if (bytes.toHex() != hex || bytes.size() < 4 || bytes.size() != 4 + 7 * word(bytes, 2)) {
            fault(QStringLiteral("malformed message %1").arg(text.left(40)));
            return;
        }
        // Exactly the beginning of what the port received since the last take.
        if (!model[current].sinceTake.startsWith(bytes)) {
            fault(QStringLiteral("port %1 emitted bytes it was never sent in this order: %2")
                      .arg(current)
                      .arg(text.left(40)));
            return;
        }
        messages.append(bytes);
        const int address = word(bytes, 0);
        for (int pos = 4; pos + 7 <= bytes.size(); pos += 7) {
            const QByteArray record = bytes.mid(pos, 7);
            emittedReadings.insert(readingKey(address, record));
            if (validHour(record))
                emittedHours.insert(hourKey(address, record));
        }
    }

    void onResult(int type, const QString& port, int devId, bool ok)
    {
        ++takes;
        if (current < 0) {
            fault(QStringLiteral("report outside a feed"));
            return;
        }
        if (taken)
            fault(QStringLiteral("two takes from one piece on port %1").arg(current));
        taken = true;
        const QByteArray& seen = model[current].sinceTake;
        const ComPortState& state = link->portStates().at(current);
        if (port != state.comName)
            fault(QStringLiteral("report names port %1, fed %2").arg(port, state.comName));
        if (!ok)
            fault(QStringLiteral("port %1: a reply of type %2 reported as failed").arg(current).arg(type));
        if (type == 1 || type == 2) {
            ++acks;
            const QByteArray& text = type == 1 ? kClearOk : kSetidOk;
            if (!seen.contains(text))
                fault(QStringLiteral("port %1: acknowledgement %2 without its text").arg(current).arg(type));
            if (type == 2 && seen.contains(kClearOk))
                fault(QStringLiteral("port %1: both texts, taken as a set-address acknowledgement").arg(current));
            if (seen.size() < 5 || state.devId != word(seen, 0))
                fault(QStringLiteral("port %1: address after acknowledgement %2").arg(current).arg(state.devId));
        } else if (type == 0) {
            if (seen.size() < 4 || devId != word(seen, 0) || state.devId != devId)
                fault(QStringLiteral("port %1: data report for device %2").arg(current).arg(devId));
            // A reply with records must have reached the storage first.
            if (seen.size() >= 4 && word(seen, 2) > 0 && messages.isEmpty())
                fault(QStringLiteral("port %1: data reported without its message").arg(current));
        } else {
            fault(QStringLiteral("port %1: report of type %2").arg(current).arg(type));
        }
    }

    // Pushes one piece into the link's receive path of port and checks the
    // port's state against the model afterwards.
    void feed(int port, const QByteArray& piece)
    {
        PortModel& m = model[port];
        const int searchFrom = qMax(0, m.sinceTake.size() - kClearOk.size() + 1);
        m.sinceTake += piece;
        current = port;
        taken = false;
        messages.clear();
        link->receiveBytes(port, piece);
        current = -1;
        ++feeds;

        const ComPortState& state = link->portStates().at(port);
        const int size = state.rxHex.size();
        maxBuffer = qMax(maxBuffer, size);
        if (size > SerialPort::kMaxReplyHex)
            fault(QStringLiteral("port %1 holds %2 characters").arg(port).arg(size));
        if (taken) {
            m.sinceTake.clear();
            if (size != 0)
                fault(QStringLiteral("port %1 kept %2 characters after a take").arg(port).arg(size));
            return;
        }
        if (size != 2 * m.sinceTake.size()
            || (size <= 4096 && state.rxHex != m.sinceTake.toHex()))
            fault(QStringLiteral("port %1 holds %2 characters, %3 bytes arrived").arg(port).arg(size).arg(m.sinceTake.size()));
        // An acknowledgement text that arrived must have been taken.
        if (m.sinceTake.indexOf(kClearOk, searchFrom) >= 0 || m.sinceTake.indexOf(kSetidOk, searchFrom) >= 0)
            fault(QStringLiteral("port %1: an acknowledgement text was not taken").arg(port));
        // A header fixes the length: a buffer that long would have been taken.
        if (size > 7 && (state.pendingCount < 0 || size >= state.pendingCount * 14 + 8))
            fault(QStringLiteral("port %1 holds %2 characters for a count of %3")
                      .arg(port).arg(size).arg(state.pendingCount));
    }

    // What a new synchronisation does: every entry is rebuilt, every buffer
    // starts empty.
    void resync()
    {
        ++resyncs;
        QElapsedTimer t;
        t.start();
        link->openPorts();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (PortModel& m : model)
            m.sinceTake.clear();
        resyncNs += t.nsecsElapsed();
    }

    // ---- replies ----------------------------------------------------------

    // A device stores its hours one after the other; a reply is a run of
    // them. Late February of a leap year into the spring: day and month
    // ends, 29 February.
    QByteArray validReply(int maxRecords = 6, bool sometimesLonger = true)
    {
        static const QDateTime first(QDate(2024, 2, 20), QTime(0, 0), Qt::UTC);
        const int address = kAddresses[rng.bounded(int(sizeof kAddresses / sizeof kAddresses[0]))];
        const int count = sometimesLonger && rng.bounded(8) == 0 ? rng.bounded(1, 60)
                                                                 : rng.bounded(1, maxRecords + 1);
        qint64 hour = rng.bounded(1500);
        QByteArray reply = SimDosimeter::word(address) + SimDosimeter::word(count);
        for (int k = 0; k < count; ++k) {
            QByteArray record;
            if (k > 0 && rng.bounded(10) == 0) {
                // An hour repeated with another dose: the first one counts.
                record = reply.mid(4 + 7 * rng.bounded(k), 7);
                record[5] = char(rng.bounded(256));
            } else {
                const QDateTime t = first.addSecs(3600 * hour);
                hour += rng.bounded(8) == 0 ? rng.bounded(2, 30) : 1;
                const int dose = rng.bounded(8) == 0 ? 0 : rng.bounded(65536);
                record = SimDosimeter::makeRecord(t.date().year(), t.date().month(), t.date().day(),
                                                  t.time().hour(), dose, quint8(rng.bounded(256)));
            }
            reply.append(record);
            sentReadings.insert(readingKey(address, record));
        }
        return reply;
    }

    QByteArray garbage(int maxLength)
    {
        QByteArray bytes(rng.bounded(1, maxLength + 1), Qt::Uninitialized);
        for (char& c : bytes)
            c = char(rng.bounded(256));
        return bytes;
    }

    // Records whose time is no time: not BCD, out of range, no such day.
    QByteArray invalidBcd(QByteArray reply)
    {
        static const char* const bad[] = {
            "\x1a", "\xa0", "\x13", "\x00", "\x32", "\x24", "\x99", "\xff", "\x3f",
        };
        const int records = (reply.size() - 4) / 7;
        for (int n = rng.bounded(1, 4); n > 0 && records > 0; --n) {
            const int pos = 4 + 7 * rng.bounded(records);
            if (rng.bounded(4) == 0) {
                reply[pos + 1] = 0x02;  // 30 February
                reply[pos + 2] = 0x30;
            } else {
                reply[pos + rng.bounded(4)] = bad[rng.bounded(int(sizeof bad / sizeof bad[0]))][0];
            }
        }
        return reply;
    }

    QByteArray acknowledgement()
    {
        const int address = kAddresses[rng.bounded(int(sizeof kAddresses / sizeof kAddresses[0]))];
        QByteArray reply = SimDosimeter::word(address);
        if (rng.bounded(3) == 0)
            reply += garbage(6);
        reply += rng.bounded(2) ? kClearOk : kSetidOk;
        if (rng.bounded(3) == 0)
            reply += garbage(10);
        return reply;
    }

    // Sends bytes in pieces of random size.
    void sendInPieces(int port, const QByteArray& bytes)
    {
        for (int pos = 0; pos < bytes.size();) {
            const int n = rng.bounded(4) == 0 ? 1 : rng.bounded(1, 65);
            feed(port, bytes.mid(pos, n));
            pos += n;
        }
    }

    // A well-formed reply on an empty buffer: it must come out exactly once,
    // as the last piece completes it.
    bool sendExpectingTake(int port, const QList<QByteArray>& pieces, const QByteArray& reply)
    {
        if (!model[port].sinceTake.isEmpty())
            resync();
        const qint64 before = dataMessages;
        for (int i = 0; i < pieces.size(); ++i) {
            feed(port, pieces.at(i));
            const bool last = i == pieces.size() - 1;
            if (taken != last) {
                fault(QStringLiteral("port %1: reply of %2 bytes taken after piece %3 of %4")
                          .arg(port).arg(reply.size()).arg(i + 1).arg(pieces.size()));
                return false;
            }
        }
        const int count = word(reply, 2);
        if (dataMessages != before + (count > 0 ? 1 : 0)
            || (count > 0 && (messages.size() != 1 || messages.first() != reply))) {
            fault(QStringLiteral("port %1: reply %2 not emitted as sent").arg(port).arg(QString::fromLatin1(reply.toHex().left(40))));
            return false;
        }
        ++exactTakes;
        return true;
    }

    int splitEverywhere(int port, const QByteArray& reply)
    {
        int sent = 0;
        for (int p = 1; p < reply.size(); ++p, ++sent) {
            if (!sendExpectingTake(port, {reply.left(p), reply.mid(p)}, reply))
                break;
        }
        return sent;
    }

    // Pumps filler until the port's pending reply is complete.
    void fillUp(int port)
    {
        while (!model[port].sinceTake.isEmpty()) {
            feed(port, garbage(512));
            if (!faults.isEmpty())
                return;
        }
    }

    // One random or damaged reply; returns how many replies it counts for.
    int sendOne()
    {
        const int port = rng.bounded(kPorts);
        const int kind = rng.bounded(100);
        if (kind < 18) {                       // intact, in one piece
            const QByteArray reply = validReply();
            if (model[port].sinceTake.isEmpty() && !reply.contains(kClearOk) && !reply.contains(kSetidOk))
                sendExpectingTake(port, {reply}, reply);
            else
                feed(port, reply);
        } else if (kind < 32) {                // intact, in pieces
            sendInPieces(port, validReply(12));
        } else if (kind < 34) {                // split at every position
            QByteArray reply = validReply(3, false);
            if (reply.contains(kClearOk) || reply.contains(kSetidOk))
                return 0;
            // On a port that is waiting for nothing, so the reply must come out whole.
            for (int p = 0; p < kPorts; ++p) {
                if (model[p].sinceTake.isEmpty())
                    return splitEverywhere(p, reply);
            }
            sendInPieces(port, reply);
        } else if (kind < 42) {                // truncated
            const QByteArray reply = validReply(10);
            feed(port, reply.left(rng.bounded(1, reply.size())));
        } else if (kind < 48) {                // count too large
            QByteArray reply = validReply();
            const int count = word(reply, 2);
            const int roll = rng.bounded(20);
            const int larger = roll == 0 ? 65535 : roll == 1 ? rng.bounded(count + 1, 65536) : count + rng.bounded(1, 30);
            reply.replace(2, 2, SimDosimeter::word(larger));
            sendInPieces(port, reply);
        } else if (kind < 52) {                // count too small: the rest is dropped
            QByteArray reply = validReply(10);
            const int count = word(reply, 2);
            reply.replace(2, 2, SimDosimeter::word(rng.bounded(count)));
            sendInPieces(port, reply);
        } else if (kind < 60) {                // acknowledgement text inside data
            QByteArray reply = validReply(10);
            reply.insert(rng.bounded(reply.size() + 1), rng.bounded(2) ? kClearOk : kSetidOk);
            sendInPieces(port, reply);
        } else if (kind < 62) {                // the text straddling bytes: no acknowledgement
            const QByteArray text = rng.bounded(2) ? kClearOk : kSetidOk;
            const QByteArray shifted = QByteArray::fromHex("0" + text.toHex() + "0");
            QByteArray reply = validReply(10);
            reply.insert(rng.bounded(4, reply.size() + 1), shifted);
            sendInPieces(port, reply);
        } else if (kind < 70) {                // invalid BCD
            sendInPieces(port, invalidBcd(validReply(10)));
        } else if (kind < 78) {                // garbage
            feed(port, garbage(80));
        } else if (kind < 84) {                // acknowledgements
            sendInPieces(port, acknowledgement());
        } else if (kind < 87) {                // no records
            feed(port, SimDosimeter::word(kAddresses[rng.bounded(6)]) + SimDosimeter::word(0));
        } else if (kind < 90) {                // two replies in one read: the second is dropped
            feed(port, validReply() + validReply());
        } else {                               // damaged bytes
            QByteArray reply = validReply(10);
            for (int n = rng.bounded(1, 4); n > 0; --n) {
                const int pos = rng.bounded(reply.size());
                reply[pos] = rng.bounded(2) ? char(reply.at(pos) ^ (1 << rng.bounded(8))) : char(rng.bounded(256));
            }
            sendInPieces(port, reply);
        }

        // A header that announced far more than arrived swallows what
        // follows until an acknowledgement text ends it, a new
        // synchronisation rebuilds the entries, or the line fills it up.
        const ComPortState& state = link->portStates().at(port);
        if (state.pendingCount > 0 && state.pendingCount * 14 + 8 - state.rxHex.size() > 40000) {
            const int roll = rng.bounded(400);
            if (roll == 0)
                fillUp(port);
            else if (roll < 3)
                resync();
        }
        return 1;
    }

    // Problems in the stored rows: anything not carried by an emitted message,
    // a valid emitted hour not stored, an hour twice, a total that does not
    // match its readings.
    QStringList checkStored(int* rows, int* fromSent)
    {
        QStringList problems;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("badinput-check"));
        {
            db.setDatabaseName(dir->filePath(QStringLiteral("database.db")));
            if (!db.open())
                return {QStringLiteral("cannot open the database")};
            QSqlQuery q(db);
            QSet<quint64> storedHours;
            QHash<QPair<int, QString>, double> daySums;
            QHash<QPair<int, QString>, double> monthSums;
            *rows = 0;
            *fromSent = 0;
            q.exec(QStringLiteral("select slaveId, dataTime, probeValue from Realdata"));
            while (q.next()) {
                ++*rows;
                const int slaveId = q.value(0).toInt();
                const QString dataTime = q.value(1).toString();
                const double value = q.value(2).toDouble();
                quint64 hour = 0;
                quint64 reading = 0;
                if (!rowKeys(slaveId, dataTime, value, &hour, &reading) || !emittedReadings.contains(reading)) {
                    if (problems.size() < 10)
                        problems << QStringLiteral("stored reading no message carried: device %1 %2 %3")
                                        .arg(slaveId).arg(dataTime).arg(value);
                    continue;
                }
                if (sentReadings.contains(reading))
                    ++*fromSent;
                if (storedHours.contains(hour))
                    problems << QStringLiteral("device %1 %2 stored twice").arg(slaveId).arg(dataTime);
                storedHours.insert(hour);
                daySums[{slaveId, dataTime.left(8)}] += value;
                monthSums[{slaveId, dataTime.left(6)}] += value;
            }
            for (const quint64 hour : qAsConst(emittedHours)) {
                if (!storedHours.contains(hour) && problems.size() < 20)
                    problems << QStringLiteral("hour %1 of a message not stored").arg(hour, 12, 16, QLatin1Char('0'));
            }
            struct Level
            {
                const char* table;
                QHash<QPair<int, QString>, double>* sums;
            };
            for (const Level level : {Level{"Monthdata", &daySums}, Level{"Yeardata", &monthSums}}) {
                int totals = 0;
                q.exec(QStringLiteral("select slaveId, dataTime, probeValue from %1").arg(QLatin1String(level.table)));
                while (q.next()) {
                    ++totals;
                    const QPair<int, QString> key(q.value(0).toInt(), q.value(1).toString());
                    const double expected = level.sums->value(key, -1.0);
                    if (std::fabs(q.value(2).toDouble() - expected) > 1e-6 && problems.size() < 30)
                        problems << QStringLiteral("%1: device %2 %3 holds %4, readings sum to %5")
                                        .arg(QLatin1String(level.table)).arg(key.first).arg(key.second)
                                        .arg(q.value(2).toDouble()).arg(expected);
                }
                if (totals != level.sums->size())
                    problems << QStringLiteral("%1 has %2 rows for %3 keys with readings")
                                    .arg(QLatin1String(level.table)).arg(totals).arg(level.sums->size());
            }
            db.close();
        }
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("badinput-check"));
        return problems;
    }

private slots:
    void initTestCase()
    {
        qInfo("seed %u (set DOSE_TEST_SEED to repeat)", seed);
        // In memory when the machine offers it: tens of thousands of commits.
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
            dir = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/tst_badinput-XXXXXX"));
        if (!dir || !dir->isValid())
            dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        oldCwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir->path()));

        settings = std::make_unique<SettingsAdpater>(dir->filePath(QStringLiteral("zudovi.ini")), QSettings::IniFormat);
        database = std::make_unique<DataBase>();
        QVERIFY(database->createTables());
        link = std::make_unique<SerialPort>(nullptr, settings.get(), database.get());
        worker = std::make_unique<mydeal_thread>(nullptr, database.get(), settings.get());
        // As the main window wires them: the reply is stored before the report.
        connect(link.get(), &SerialPort::MySave_data, worker.get(), &mydeal_thread::MY_receiveData);
        connect(worker.get(), &mydeal_thread::dataStored, link.get(), &SerialPort::dataStoreResult,
                Qt::DirectConnection);
        connect(link.get(), &SerialPort::MySave_data, this, &tst_badinput::onMessage);
        connect(link.get(), &SerialPort::data_Result, this, &tst_badinput::onResult);

        // Real port entries, on pseudo-terminals nobody answers on.
        QList<PortDescription> listed;
        for (int i = 0; i < kPorts; ++i) {
            auto sim = std::make_unique<SimPty>(1 + i);
            QVERIFY(sim->isValid());
            sim->setSilent(true);
            PortDescription d;
            d.portName = d.systemLocation = sim->slavePath();
            listed.append(d);
            sims.push_back(std::move(sim));
        }
        SerialPort::setPortLister([listed] { return listed; });
        link->openPorts();
        QCOMPARE(link->portStates().size(), kPorts);
        previousHandler = qInstallMessageHandler(quietHandler);
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(previousHandler);
        link.reset();
        worker.reset();
        sims.clear();
        SerialPort::setPortLister({});
        database.reset();
        settings.reset();
        QDir::setCurrent(oldCwd);
        dir.reset();
    }

    // Every way of cutting a well-formed reply in two gives the reply once.
    void validReplySplitAtEveryPosition()
    {
        for (int r = 0; r < 20; ++r) {
            const QByteArray reply = validReply(4, r % 4 == 0);
            splitEverywhere(r % kPorts, reply);
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        }
        // An acknowledgement too, cut anywhere.
        const QByteArray ack = SimDosimeter::word(7) + kClearOk;
        for (int p = 1; p < ack.size(); ++p) {
            resync();
            feed(0, ack.left(p));
            QVERIFY(!taken);
            feed(0, ack.mid(p));
            QVERIFY(taken);
            QCOMPARE(link->portStates().at(0).devId, 7);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    void randomAndMutatedReplies()
    {
        QElapsedTimer clock;
        clock.start();
        int replies = 0;
        while (replies < kReplies && faults.isEmpty()) {
            replies += sendOne();
            // No hang: a hundred thousand replies in bounded time.
            if (clock.elapsed() > 150000)
                QFAIL(qPrintable(QStringLiteral("only %1 replies in %2 ms").arg(replies).arg(clock.elapsed())));
        }
        const qint64 feedMs = clock.elapsed();
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("seed %1, after %2 replies:\n").arg(seed).arg(replies)
                                              + faults.join(QLatin1Char('\n'))));

        int rows = 0;
        int fromSent = 0;
        const QStringList problems = checkStored(&rows, &fromSent);
        qInfo("%d replies in %lld pieces, %lld ms; %lld takes (%lld data messages, %lld acknowledgements), "
              "%lld resynchronisations (%lld ms), largest buffer %d characters, %lld well-formed replies "
              "seen to come out exactly; %d readings stored, %d of them as sent in well-formed replies",
              replies, feeds, feedMs, takes, dataMessages, acks, resyncs, resyncNs / 1000000, maxBuffer, exactTakes, rows, fromSent);
        QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("seed %1:\n").arg(seed) + problems.join(QLatin1Char('\n'))));
        QVERIFY(replies >= kReplies);
        // The run really stored things and really took acknowledgements.
        QVERIFY(fromSent > 1000);
        QVERIFY(acks > 1000);
        QVERIFY(exactTakes > 10000);
    }

    // The final check must notice a reading no message carried.
    void checkNoticesAForeignReading()
    {
        int rows = 0;
        int fromSent = 0;
        QCOMPARE(checkStored(&rows, &fromSent), QStringList());
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("badinput-foreign"));
            db.setDatabaseName(dir->filePath(QStringLiteral("database.db")));
            QVERIFY(db.open());
            // No reply ever came from device 9.
            QVERIFY(QSqlQuery(db).exec(QStringLiteral(
                "insert into Realdata(slaveId,dataTime,probeValue) values(9,'20240301100000',1.5)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("badinput-foreign"));
        QVERIFY(!checkStored(&rows, &fromSent).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_badinput)
#include "tst_badinput.moc"
