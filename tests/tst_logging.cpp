#include "QsLog/QsLog.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace QsLogging;
Q_DECLARE_METATYPE(QsLogging::Level)

namespace {

const QRegularExpression LinePattern(
    QStringLiteral("^(.{5}) (\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)$"));

// Keeps what the logger hands over, so logger tests need no files.
class RecordingDestination : public Destination
{
public:
    void write(const QString &message, Level level) override { lines << message; levels << level; }
    bool isValid() const override { return true; }

    QStringList lines;
    QVector<Level> levels;
};

// Counts how often it is streamed, i.e. whether a message was built at all.
struct Probe { int *evaluated; };
QDebug operator<<(QDebug debug, const Probe &probe) { ++*probe.evaluated; return debug << "probe"; }

// Points file descriptor 2 at a file until finish().
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path) : m_path(path)
    {
        std::fflush(stderr);
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { finish(); }
    QByteArray finish()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
            m_saved = -1;
        }
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString m_path;
    int m_saved = ::dup(STDERR_FILENO);
};

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Six characters but ten UTF-8 bytes each, numbered so that backups can be
// told apart.
QString numbered(int i) { return QStringLiteral("剂量%1").arg(i, 4, 10, QLatin1Char('0')); }

void writeLines(const DestinationPtr &destination, int from, int to)
{
    for (int i = from; i <= to; ++i)
        destination->write(numbered(i), InfoLevel);
}

QStringList qtMessages;
void keepQtMessage(QtMsgType, const QMessageLogContext &, const QString &text) { qtMessages << text; }

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Logger::instance().addDestination(m_recorder); }
    void init() { m_recorder->lines.clear(); m_recorder->levels.clear(); }
    void cleanup() { Logger::instance().setLoggingLevel(InfoLevel); }

    // --- logger and call sites ---

    void lineLayout_data()
    {
        QTest::addColumn<Level>("level");
        QTest::addColumn<QString>("label");
        QTest::newRow("trace") << TraceLevel << "TRACE";
        QTest::newRow("info") << InfoLevel << " INFO";
        QTest::newRow("warn") << WarnLevel << " WARN";
        QTest::newRow("error") << ErrorLevel << "ERROR";
        QTest::newRow("off") << OffLevel << "     ";
    }
    void lineLayout()
    {
        QFETCH(Level, level);
        QFETCH(QString, label);
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        Logger::Helper(level).stream() << "dose" << 42 << QStringLiteral("mSv 100%1");
        const QDateTime after = QDateTime::currentDateTime();

        QCOMPARE(m_recorder->levels, QVector<Level>{level});
        const QRegularExpressionMatch match = LinePattern.match(m_recorder->lines.value(0));
        QVERIFY2(match.hasMatch(), qPrintable(m_recorder->lines.value(0)));
        QCOMPARE(match.captured(1), label);
        const QDateTime stamp = QDateTime::fromString(match.captured(2), "yyyy-MM-ddThh:mm:ss.zzz");
        QVERIFY(stamp >= before && stamp <= after);
        QString collected;
        QDebug(&collected) << "dose" << 42 << QStringLiteral("mSv 100%1");
        QCOMPARE(match.captured(3), collected);
    }

    void traceLevelWritesEveryLevel()
    {
        Logger::instance().setLoggingLevel(TraceLevel);
        QCOMPARE(Logger::instance().loggingLevel(), TraceLevel);
        QLOG_TRACE() << 0; QLOG_DEBUG() << 1; QLOG_INFO() << 2;
        QLOG_WARN() << 3; QLOG_ERROR() << 4; QLOG_FATAL() << 5;
        const QStringList labels{"TRACE", "DEBUG", " INFO", " WARN", "ERROR", "FATAL"};
        QCOMPARE(m_recorder->lines.size(), labels.size());
        for (int i = 0; i < labels.size(); ++i) {
            QCOMPARE(m_recorder->levels[i], Level(i));
            QVERIFY(m_recorder->lines[i].startsWith(labels[i] + QLatin1Char(' ')));
        }
    }

    void filteredCallSitesBuildNothing()
    {
        int evaluated = 0;
        QLOG_TRACE() << Probe{&evaluated};
        QLOG_DEBUG() << Probe{&evaluated};
        QCOMPARE(evaluated, 0);
        QLOG_INFO() << Probe{&evaluated};
        QCOMPARE(evaluated, 1);
        Logger::instance().setLoggingLevel(OffLevel);
        QLOG_FATAL() << Probe{&evaluated};
        QCOMPARE(evaluated, 1);
        QCOMPARE(m_recorder->lines.size(), 1);
    }

    // --- destinations ---

    void debugOutputWritesLineAndLineEnd()
    {
        QTemporaryDir dir;
        DestinationPtr destination = makeDebugOutputDestination();
        StderrCapture capture(dir.filePath("stderr"));
        destination->write(" INFO 2016-04-14T08:30:05.123 started", InfoLevel);
        QCOMPARE(capture.finish(), QByteArray(" INFO 2016-04-14T08:30:05.123 started\n"));
        QVERIFY(destination->isValid());
    }

    void openFailureReportsAndStaysSilent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("missing/log.txt");
        StderrCapture capture(dir.filePath("stderr"));
        DestinationPtr destination = makeFileDestination(path, false, 0, 0);
        QCOMPARE(capture.finish(), ("QsLog: could not open log file " + path).toLocal8Bit());
        QVERIFY(!destination->isValid());

        StderrCapture silent(dir.filePath("stderr2"));
        const QtMessageHandler previous = qInstallMessageHandler(keepQtMessage);
        writeLines(destination, 1, 3);
        qInstallMessageHandler(previous);
        QCOMPARE(silent.finish(), QByteArray());
        QCOMPARE(qtMessages, QStringList());
    }

    // --- size rotation ---

    void rotatesOnlyPastMaximum()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        DestinationPtr destination = makeFileDestination(path, true, 100, 10);
        writeLines(destination, 1, 10);   // exactly 100 bytes counted, line ends not
        QVERIFY(!QFile::exists(path + ".1"));
        writeLines(destination, 11, 11);
        QCOMPARE(fileLines(path + ".1").size(), 10);
        QCOMPARE(fileLines(path), QStringList{numbered(11)});
        // Line 11 was counted against the old file: ten more fit in the new one.
        writeLines(destination, 12, 21);
        QVERIFY(!QFile::exists(path + ".2"));
        writeLines(destination, 22, 22);
        QCOMPARE(fileLines(path + ".1").size(), 11);
        QCOMPARE(fileLines(path), QStringList{numbered(22)});
    }

    void fullExistingFileRotatesOnFirstLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(2097152, 'x')) == 2097152);
        file.close();
        makeFileDestination(path, true, 2097152, 10)->write("first", InfoLevel);
        QCOMPARE(QFileInfo(path + ".1").size(), 2097152);
        QCOMPARE(fileLines(path), QStringList{"first"});
    }

    void keepsTenBackupsNewestFirst()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        // Each ten-byte line is past a nine-byte limit: one rotation per line.
        writeLines(makeFileDestination(path, true, 9, 10), 1, 14);
        for (int i = 1; i <= 10; ++i)
            QCOMPARE(fileLines(path + '.' + QString::number(i)), QStringList{numbered(14 - i)});
        QVERIFY(!QFile::exists(path + ".11"));
    }

    void clampsBackupCount_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("kept");
        QTest::newRow("above ten") << 50 << 10;
        QTest::newRow("three") << 3 << 3;
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("negative") << -3 << 0;
    }
    void clampsBackupCount()
    {
        QFETCH(int, requested);
        QFETCH(int, kept);
        QTemporaryDir dir;
        writeLines(makeFileDestination(dir.filePath("log.txt"), true, 9, requested), 1, 15);
        QCOMPARE(QDir(dir.path()).entryList({"log.txt.*"}, QDir::Files).size(), kept);
        QCOMPARE(fileLines(dir.filePath("log.txt")), QStringList{numbered(15)});
    }

    // A non-empty directory in a backup's place can be neither deleted nor
    // renamed over.
    void renameFailureKeepsLogging_data()
    {
        QTest::addColumn<int>("backups");
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QStringList>("logAfterThree");
        QTest::newRow("backup") << 2 << ".2" << "QsLog: could not rename backup %1.1 to %1.2"
                                << 1 << QStringList{numbered(2), numbered(3)};
        // The log stays past the limit, so line 3 tries (and fails) again.
        QTest::newRow("log") << 1 << ".1" << "QsLog: could not rename log %1 to %1.1"
                             << 2 << QStringList{numbered(1), numbered(2), numbered(3)};
    }
    void renameFailureKeepsLogging()
    {
        QFETCH(int, backups);
        QFETCH(QString, blocked);
        QFETCH(QString, message);
        QFETCH(int, reports);
        QFETCH(QStringList, logAfterThree);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        QFile backup(path + ".1");
        QVERIFY(blocked == ".1" || backup.open(QIODevice::WriteOnly));
        backup.close();
        QVERIFY(QDir().mkpath(path + blocked + "/keep"));

        DestinationPtr destination = makeFileDestination(path, true, 15, backups);
        StderrCapture capture(dir.filePath("stderr"));
        writeLines(destination, 1, 3);
        QCOMPARE(capture.finish(), message.arg(path).repeated(reports).toLocal8Bit());
        QVERIFY(destination->isValid());
        QCOMPARE(fileLines(path), logAfterThree);
        QVERIFY(QFileInfo::exists(path + blocked + "/keep"));
    }

private:
    std::shared_ptr<RecordingDestination> m_recorder = std::make_shared<RecordingDestination>();
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
