// 100000 random and damaged replies through the link into the storage: no crash, exact messages, no stray readings.
#include <QtTest>

#include "core/device/SerialPort.h"
#include "core/readings/mydeal_thread.h"
#include "sim/SimDosimeter.h"
#include "support/ScratchDatabase.h"

class tst_badinput : public QObject
{
    Q_OBJECT

    const quint32 seed = qEnvironmentVariable("DOSE_TEST_SEED", "20240918").toUInt();
    QRandomGenerator rng{seed};
    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<SerialPort> link;
    QByteArray rx[2]; // what each port received since the link last took a reply
    int port = 0, takes = 0;
    QSet<QString> carried; // "device time dose" of every record of every message
    QStringList faults;

    static int word(const QByteArray& bytes, int pos) { return quint8(bytes[pos]) | quint8(bytes[pos + 1]) << 8; }

    void fail(const QString& what) { faults << QString("port %1: %2").arg(port).arg(what); }

    void onMessage(const QString& text) // the reply that the header of what arrived announces, no more, no less
    {
        if (rx[port].size() < 4 || text != rx[port].left(4 + 7 * word(rx[port], 2)).toHex())
            fail("message not as received: " + text.left(40));
        const QByteArray m = QByteArray::fromHex(text.toLatin1());
        for (int pos = 4; pos + 7 <= m.size(); pos += 7)
            carried << QString::asprintf("%d 20%s %d", word(m, 0), m.mid(pos, 4).toHex().constData(), word(m, pos + 5));
    }

    // Once taken nothing is left; else the buffer is what arrived and holds no complete data reply.
    void feed(const QByteArray& piece)
    {
        takes = 0;
        rx[port] += piece;
        link->receiveBytes(port, piece);
        const int size = link->portStates().at(port).rxHex.size();
        if (takes ? size != 0 : size != 2 * rx[port].size()
                || (rx[port].size() >= 4 && rx[port].size() >= 4 + 7 * word(rx[port], 2)))
            fail(QString("%1 characters kept after %2 takes").arg(size).arg(takes));
        if (takes)
            rx[port].clear();
    }

    QByteArray junk(int maxLength)
    {
        QByteArray bytes(4 * maxLength, Qt::Uninitialized);
        rng.fillRange(reinterpret_cast<quint32*>(bytes.data()), maxLength);
        return bytes.left(rng.bounded(1, maxLength + 1));
    }

    // Hours of one device from late February of a leap year, now and then one skipped or repeated.
    QByteArray validReply()
    {
        const int count = rng.bounded(8) ? rng.bounded(1, 13) : rng.bounded(1, 60);
        QByteArray reply = SimDosimeter::word(QList{1, 2, 7, 300, 4660, 65535}[rng.bounded(6)])
                         + SimDosimeter::word(count);
        const QDateTime first(QDate(2024, 2, 20), QTime(0, 0), Qt::UTC);
        for (int k = 0, hour = rng.bounded(1500); k < count; ++k, hour += rng.bounded(1, 3)) {
            const QByteArray record = SimDosimeter::makeRecord(first.addSecs(3600 * hour), rng.bounded(65536) / 100.0);
            reply += k > 0 && rng.bounded(10) == 0 ? reply.mid(4 + 7 * rng.bounded(k), 5) + record.right(2) : record;
        }
        return reply;
    }

    void sendOne()
    {
        port = rng.bounded(2);
        const QByteArray ack = rng.bounded(2) ? "clear ok" : "setid ok";
        QByteArray reply = validReply();
        const int roll = rng.bounded(100);
        if (roll < 15) // another count: too small (the rest is dropped) or too large, up to 65535
            reply.replace(2, 2, SimDosimeter::word(rng.bounded(8) ? rng.bounded(60) : rng.bounded(65536)));
        else if (roll < 30) // an acknowledgement text inside data, on byte boundaries or across them
            reply.insert(rng.bounded(reply.size() + 1),
                         rng.bounded(4) ? ack : QByteArray::fromHex("0" + ack.toHex() + "0"));
        else if (roll < 42)
            reply = junk(80);
        else if (roll < 54) // an acknowledgement, perhaps with noise around it
            reply = reply.left(2) + junk(6).left(rng.bounded(3) ? 0 : 6) + ack + junk(10).left(rng.bounded(3) ? 0 : 10);
        else if (roll < 78) // damaged bytes
            reply.replace(rng.bounded(reply.size()), 1, junk(3));
        else if (roll < 83) // two replies that may arrive in one read: the second is dropped
            reply += validReply();
        for (QByteArray piece; !reply.isEmpty(); reply.remove(0, piece.size()))
            feed(piece = reply.left(rng.bounded(4) ? rng.bounded(1, 65) : 1));
        // A header announcing far more than arrived swallows what follows: resynchronise, or fill it up.
        if (rx[port].size() >= 4 && 4 + 7 * word(rx[port], 2) - rx[port].size() > 20000 && rng.bounded(200) == 0) {
            if (rng.bounded(3)) {
                link->openPorts();
                rx[0] = rx[1] = QByteArray();
            }
            while (!rx[port].isEmpty() && faults.isEmpty())
                feed(junk(4096));
        }
    }

private slots:
    void randomAndDamagedReplies()
    {
        QLoggingCategory::setFilterRules("*.debug=false\n*.warning=false"); // the link traces every piece
        if (QFileInfo("/dev/shm").isWritable())
            qputenv("TMPDIR", "/dev/shm"); // tens of thousands of commits want memory, not a disk
        ws = std::make_unique<ScratchDatabase>();
        mydeal_thread worker(nullptr, ws->store.get(), nullptr);
        SerialPort::setPortLister([] { return QList<PortDescription>{{"P0", "P0", {}, {}}, {"P1", "P1", {}, {}}}; });
        link = std::make_unique<SerialPort>(nullptr, nullptr, ws->store.get());
        link->openPorts();
        // Each reply stored in the processing thread before the next piece arrives.
        link->setAwaitStorage(true);
        connect(link.get(), &SerialPort::MySave_data, this, &tst_badinput::onMessage);
        connect(link.get(), &SerialPort::MySave_data, this,
                [this, &worker](const QString& text) { link->dataStoreResult(worker.store(text)); });
        connect(link.get(), &SerialPort::data_Result, this, [this](int type, QString, int, bool ok) {
            if (++takes > 1 || !ok) // one take per piece at most, and a stored reply is never a failure
                fail(QString("outcome %1 %2").arg(type).arg(ok));
        });
        for (int replies = 0; replies < 100000 && faults.isEmpty(); ++replies)
            sendOne();
        QVERIFY2(faults.isEmpty(), qPrintable(QString("seed %1 (DOSE_TEST_SEED): ").arg(seed) + faults.join('\n')));
        QVERIFY(carried.size() > 20000 && ws->count("Realdata") > 5000);
        QSqlQuery q("select slaveId||' '||substr(dataTime, 1, 10)||' '||cast(round(probeValue * 100) as int) "
                    "from Realdata", ws->db);
        while (q.next()) // nothing stored that no message carried
            QVERIFY2(carried.contains(q.value(0).toString()), qPrintable(q.value(0).toString()));
    }
};

QTEST_GUILESS_MAIN(tst_badinput)
#include "tst_badinput.moc"
