#include "core/log/QsLog.h"

#include <QtTest>

#include <cstdio>
#include <unistd.h>

#include "support/ScratchDatabase.h"

using namespace QsLogging;

// Keeps what the logger hands over (level, then line), so logger tests need no files.
struct RecordingDestination : Destination
{
    void write(const QString& message, Level level) override { lines << QString::number(level) + message; }
    bool isValid() const override { return true; }
    QStringList lines;
};

// Runs f with file descriptor 2 pointed at a file; what was written there.
QByteArray stderrOf(const std::function<void()>& f)
{
    QTemporaryFile file;
    if (!file.open())
        return "no capture file";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    f();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

// Ten UTF-8 bytes each (six characters), numbered so backups can be told apart.
QString numbered(int i) { return QStringLiteral("剂量%1").arg(i, 4, 10, QLatin1Char('0')); }

void writeLines(const DestinationPtr& destination, int from, int to)
{
    while (from <= to)
        destination->write(numbered(from++), InfoLevel);
}

class TestLogging : public QObject
{
    Q_OBJECT

    std::shared_ptr<RecordingDestination> rec = std::make_shared<RecordingDestination>();

private slots:
    void initTestCase() { Logger::instance().addDestination(rec); }

    void lineLayoutAndLevels()
    {
        Logger::instance().setLoggingLevel(TraceLevel);
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        QLOG_TRACE() << 0;
        QLOG_DEBUG() << 1;
        QLOG_INFO() << "dose" << 42 << QStringLiteral("mSv 100%1");
        QLOG_WARN() << 3;
        QLOG_ERROR() << 4;
        QLOG_FATAL() << 5;
        Logger::Helper(OffLevel).stream() << 6;
        const QStringList labels{"TRACE", "DEBUG", " INFO", " WARN", "ERROR", "FATAL", "     "};
        QCOMPARE(rec->lines.size(), labels.size());
        const QRegularExpression pattern("^(\\d)(.{5}) (\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)$");
        for (int i = 0; i < labels.size(); ++i) {
            const QRegularExpressionMatch m = pattern.match(rec->lines[i]);
            QVERIFY2(m.hasMatch(), qPrintable(rec->lines[i]));
            QCOMPARE(m.captured(1) + m.captured(2), QString::number(i) + labels[i]);
            QVERIFY(QDateTime::fromString(m.captured(3), "yyyy-MM-ddThh:mm:ss.zzz") >= before);
        }
        QString collected;
        QDebug(&collected) << "dose" << 42 << QStringLiteral("mSv 100%1");
        QCOMPARE(rec->lines[2].mid(31), collected);

        // Filtered call sites do not even build their message.
        Logger::instance().setLoggingLevel(InfoLevel);
        int evaluated = 0;
        QLOG_DEBUG() << ++evaluated;
        QLOG_INFO() << ++evaluated;
        Logger::instance().setLoggingLevel(OffLevel);
        QLOG_FATAL() << ++evaluated;
        QCOMPARE(evaluated, 1);
        QCOMPARE(rec->lines.size(), labels.size() + 1);
    }

    void debugOutputAndOpenFailure()
    {
        DestinationPtr out = makeDebugOutputDestination();
        QVERIFY(out->isValid());
        QCOMPARE(stderrOf([&] { out->write(" INFO 2016-04-14T08:30:05.123 started", InfoLevel); }),
                 QByteArray(" INFO 2016-04-14T08:30:05.123 started\n"));

        // A log that cannot be opened is reported once, then stays silent.
        QTemporaryDir dir;
        const QString path = dir.filePath("missing/log.txt");
        DestinationPtr file;
        QCOMPARE(stderrOf([&] { file = makeFileDestination(path, false, 0, 0); }),
                 ("QsLog: could not open log file " + path).toLocal8Bit());
        QVERIFY(!file->isValid());
        QCOMPARE(stderrOf([&] { writeLines(file, 1, 3); }), QByteArray());
    }

    void rotatesOnlyPastMaximum()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        writeLines(makeFileDestination(path, true, 100, 10), 1, 11); // 100 bytes after line 10: line ends not counted
        QCOMPARE(fileLines(path + ".1").size(), 10);
        QCOMPARE(fileLines(path), QStringList{numbered(11)});
        // An existing log past the limit (written without rotation, which never rotates) rotates on the first line.
        const QString full = dir.filePath("full.txt");
        writeLines(makeFileDestination(full, false, 0, 0), 1, 10);
        makeFileDestination(full, true, 100, 10)->write("first", InfoLevel);
        QCOMPARE(fileLines(full + ".1").size(), 10);
        QCOMPARE(fileLines(full), QStringList{"first"});
    }

    void backupCount_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("kept");
        for (const auto& row : {qMakePair(50, 10), qMakePair(3, 3), qMakePair(0, 0), qMakePair(-3, 0)})
            QTest::addRow("%d", row.first) << row.first << row.second;
    }
    void backupCount()
    {
        QFETCH(int, requested);
        QFETCH(int, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        // Each ten-byte line is past a nine-byte limit: one rotation per line.
        writeLines(makeFileDestination(path, true, 9, requested), 1, 15);
        QCOMPARE(QDir(dir.path()).entryList({"log.txt.*"}, QDir::Files).size(), kept);
        for (int i = 1; i <= kept; ++i)
            QCOMPARE(fileLines(path + '.' + QString::number(i)), QStringList{numbered(15 - i)});
        QCOMPARE(fileLines(path), QStringList{numbered(15)});
    }

    // A directory in a backup's place is neither deleted nor renamed over; the log stays full, line 3 tries again.
    void renameFailureKeepsLogging()
    {
        for (const bool log : {false, true}) {
            QTemporaryDir dir;
            const QString path = dir.filePath("log.txt");
            QFile backup(path + ".1");
            QVERIFY(log || backup.open(QIODevice::WriteOnly));
            backup.close();
            QVERIFY(QDir().mkpath(path + (log ? ".1" : ".2") + "/keep"));
            DestinationPtr destination = makeFileDestination(path, true, 15, log ? 1 : 2);
            const QString message =
                log ? "QsLog: could not rename log %1 to %1.1" : "QsLog: could not rename backup %1.1 to %1.2";
            QCOMPARE(stderrOf([&] { writeLines(destination, 1, 3); }),
                     message.arg(path).repeated(log ? 2 : 1).toLocal8Bit());
            QCOMPARE(fileLines(path), QStringList({numbered(1), numbered(2), numbered(3)}).mid(log ? 0 : 1));
        }
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
