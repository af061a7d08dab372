// A simulated dosimeter on a pseudo-terminal, for trying the program without
// hardware: it prints the terminal's path (and makes a symlink on request);
// put that path into the "myCom" list of zudovi.ini and synchronise.

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDate>
#include <QSocketNotifier>
#include <QStringList>
#include <QTextStream>

#include "sim/SimPty.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

void usage(QTextStream& out)
{
    out << "usage: dosimeter_sim [--address N] [--records FILE | --generate FROM TO\n"
           "                     [--pattern flat|daily|ramp] [--dose USV]]\n"
           "                     [--symlink PATH] [--chunk BYTES] [--delay MS] [--silent]\n";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    int address = 1;
    QString recordsFile;
    QDate from;
    QDate to;
    bool generate = false;
    SimDosimeter::DosePattern pattern = SimDosimeter::DosePattern::Daily;
    double dose = 1.0;
    QString symlinkPath;
    int chunk = 0;
    int delay = 0;
    bool silent = false;

    const QStringList args = app.arguments();
    auto value = [&](int& i) -> QString {
        if (i + 1 >= args.size()) {
            err << "missing value after " << args.at(i) << "\n";
            usage(err);
            ::exit(2);
        }
        return args.at(++i);
    };
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        bool ok = true;
        if (a == QLatin1String("--address")) {
            address = value(i).toInt(&ok);
            ok = ok && address >= 0 && address <= 65535;
        } else if (a == QLatin1String("--records")) {
            recordsFile = value(i);
        } else if (a == QLatin1String("--generate")) {
            from = QDate::fromString(value(i), QStringLiteral("yyyy-MM-dd"));
            to = QDate::fromString(value(i), QStringLiteral("yyyy-MM-dd"));
            ok = from.isValid() && to.isValid() && from <= to;
            generate = true;
        } else if (a == QLatin1String("--pattern")) {
            ok = SimDosimeter::parsePattern(value(i), &pattern);
        } else if (a == QLatin1String("--dose")) {
            dose = value(i).toDouble(&ok);
            ok = ok && dose >= 0;
        } else if (a == QLatin1String("--symlink")) {
            symlinkPath = value(i);
        } else if (a == QLatin1String("--chunk")) {
            chunk = value(i).toInt(&ok);
            ok = ok && chunk >= 0;
        } else if (a == QLatin1String("--delay")) {
            delay = value(i).toInt(&ok);
            ok = ok && delay >= 0;
        } else if (a == QLatin1String("--silent")) {
            silent = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            usage(out);
            return 0;
        } else {
            ok = false;
        }
        if (!ok) {
            err << "bad option or value: " << a << "\n";
            usage(err);
            return 2;
        }
    }
    if (generate && !recordsFile.isEmpty()) {
        err << "--records and --generate exclude each other\n";
        return 2;
    }

    SimPty sim(address);
    if (!sim.isValid()) {
        err << "cannot create a pseudo-terminal\n";
        return 1;
    }
    sim.setChunkSize(chunk);
    sim.setDelay(delay);
    sim.setSilent(silent);
    if (!recordsFile.isEmpty()) {
        QString message;
        if (!sim.device().loadRecords(recordsFile, &message)) {
            err << message << "\n";
            return 1;
        }
    } else if (generate) {
        sim.device().generate(from, to, pattern, dose);
    }
    if (!symlinkPath.isEmpty() && !sim.createSymlink(symlinkPath)) {
        err << "cannot create the symlink " << symlinkPath << "\n";
        return 1;
    }

    // Ctrl-C and kill end the event loop, so the symlink is removed.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    QObject::connect(&sim, &SimPty::bytesReceived, &app, [&](const QByteArray& bytes) {
        out << "request: " << bytes.toHex(' ') << "   (address now " << sim.device().address()
            << ", " << sim.device().recordCount() << " records)\n";
        out.flush();
    });

    out << "pty: " << sim.slavePath() << "\n";
    if (!symlinkPath.isEmpty())
        out << "symlink: " << symlinkPath << "\n";
    out << "address " << address << ", " << sim.device().recordCount() << " records"
        << (silent ? ", silent" : "") << "\n";
    out.flush();
    return app.exec();
}
