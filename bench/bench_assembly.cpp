// Reply assembly: the time to take a data reply delivered in 64-byte pieces
// must grow linearly with its size. Feeds a 4096-record and a 65535-record
// reply through the link's receive path and prints the time per record at
// both sizes and their ratio; then the same over a pseudo-terminal.

#include <cstdio>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "core/device/SerialPort.h"
#include "sim/SimPty.h"

namespace {

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    // The link's trace lines would measure the terminal, not the assembly.
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

QByteArray makeReply(int records)
{
    SimDosimeter dev(0x1234);
    const QDateTime start(QDate(2016, 1, 1), QTime(0, 0));
    for (int i = 0; i < records; ++i)
        dev.addRecord(start.addSecs(3600LL * i), 0.01 * (i % 5000));
    return dev.dataReply();
}

// Seconds per record for one reply fed through the receive path.
double direct(SerialPort& link, const QByteArray& reply, int records)
{
    int taken = 0;
    const auto c = QObject::connect(&link, &SerialPort::MySave_data,
                                    [&](const QString& text) { taken = text.size(); });
    QElapsedTimer t;
    t.start();
    for (int pos = 0; pos < reply.size(); pos += 64)
        link.receiveBytes(0, reply.mid(pos, 64));
    const qint64 ns = t.nsecsElapsed();
    QObject::disconnect(c);
    if (taken != 8 + 14 * records)
        std::fprintf(stderr, "reply of %d records not taken (%d chars)\n", records, taken);
    return double(ns) / 1e9 / records;
}

double overPty(SimPty& sim, SerialPort& link, int records)
{
    sim.device().clearRecords();
    const QByteArray reply = makeReply(records);
    for (int pos = 4; pos < reply.size(); pos += 7)
        sim.device().addRawRecord(reply.mid(pos, 7));
    bool ok = false;
    QEventLoop loop;
    const auto c = QObject::connect(&link, &SerialPort::data_Result, [&](int, QString, int, bool result) {
        ok = result;
        loop.quit();
    });
    QElapsedTimer t;
    t.start();
    link.dealsyndata(0, -1, -1);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const qint64 ns = t.nsecsElapsed();
    QObject::disconnect(c);
    if (!ok)
        std::fprintf(stderr, "reply of %d records over the pty failed\n", records);
    return double(ns) / 1e9 / records;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);

    SimPty sim(0x1234);
    if (!sim.isValid()) {
        std::fprintf(stderr, "cannot create a pseudo-terminal\n");
        return 1;
    }
    sim.setSilent(true);
    SerialPort::setPortLister([&] {
        PortDescription d;
        d.portName = sim.slavePath();
        d.systemLocation = sim.slavePath();
        return QList<PortDescription> {d};
    });
    SerialPort link(nullptr, nullptr, nullptr);
    link.openPorts();

    const int small = 4096;
    const int large = 65535;
    const QByteArray smallReply = makeReply(small);
    const QByteArray largeReply = makeReply(large);

    // Best of a few runs, after one warm-up each.
    double smallBest = 1e9;
    double largeBest = 1e9;
    direct(link, smallReply, small);
    direct(link, largeReply, large);
    for (int run = 0; run < 5; ++run) {
        smallBest = qMin(smallBest, direct(link, smallReply, small));
        largeBest = qMin(largeBest, direct(link, largeReply, large));
    }
    std::printf("receive path, 64-byte pieces\n");
    std::printf("  %5d records: %8.3f us per record (%.2f ms)\n", small, smallBest * 1e6, smallBest * small * 1e3);
    std::printf("  %5d records: %8.3f us per record (%.2f ms)\n", large, largeBest * 1e6, largeBest * large * 1e3);
    std::printf("  ratio %d/%d per record: %.2f (linear: about 1)\n", large, small, largeBest / smallBest);
    std::printf("  in between:");
    for (int records : {8192, 16384, 32768}) {
        const QByteArray reply = makeReply(records);
        double best = 1e9;
        for (int run = 0; run < 5; ++run)
            best = qMin(best, direct(link, reply, records));
        std::printf(" %d: %.3f us", records, best * 1e6);
    }
    std::printf("\n");

    // The whole way: request, pseudo-terminal, readyRead, assembly.
    sim.setSilent(false);
    sim.setChunkSize(64);
    const double smallPty = overPty(sim, link, small);
    const double largePty = overPty(sim, link, large);
    std::printf("over a pseudo-terminal, written in 64-byte pieces\n");
    std::printf("  %5d records: %8.3f us per record (%.2f ms)\n", small, smallPty * 1e6, smallPty * small * 1e3);
    std::printf("  %5d records: %8.3f us per record (%.2f ms)\n", large, largePty * 1e6, largePty * large * 1e3);
    std::printf("  ratio %d/%d per record: %.2f\n", large, small, largePty / smallPty);
    SerialPort::setPortLister({});
    return 0;
}
