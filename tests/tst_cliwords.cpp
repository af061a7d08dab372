// The built dosectl says every reason in Chinese, Qt's usage words included, and nothing else on standard error.

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include "support/ScratchDatabase.h"

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

// dosectl run in folder as cron or su would start it: no runtime folder, no display.
Run dosectl(const QString& folder, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral(QT_TESTCASE_BUILDDIR "/dosectl"), args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class TestCliWords : public QObject
{
    Q_OBJECT

private slots:
    // A wrong command line (2, then the usage) or a failure (1, one line), in the officer's words.
    void reasons_data()
    {
        QTest::addColumn<QString>("args"); // split at spaces; PDF is --pdf a.pdf, YEAR --from 2024-01-01 --to 2024-12-31
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason"); // after "dosectl: "
        QTest::newRow("no command") << "" << 2 << "没有给出命令";
        QTest::newRow("unknown command") << "frobnicate" << 2 << "未知的命令：frobnicate";
        QTest::newRow("Qt's unknown option") << "status --bogus" << 2 << "未知选项“bogus”。";
        QTest::newRow("Qt's missing value") << "status --date" << 2 << "“--date”之后缺少值。";
        QTest::newRow("not a date") << "status --date 2024-13-01" << 2 << "不是日期（yyyy-MM-dd）：2024-13-01";
        QTest::newRow("argument too many") << "check extra" << 2 << "多余的参数：extra";
        QTest::newRow("report of nothing") << "report" << 2 << "report 需要 person 或 department";
        QTest::newRow("unknown report") << "report chart" << 2 << "未知的报表：chart";
        QTest::newRow("no ID card") << "report person PDF" << 2 << "没有给出身份证号";
        QTest::newRow("neither output") << "report person c1" << 2 << "请给出 --pdf FILE 或 --xlsx FILE，只给一个";
        QTest::newRow("both outputs") << "report person c1 --xlsx a.xlsx PDF" << 2 << "请给出 --pdf FILE 或 --xlsx FILE，只给一个";
        QTest::newRow("not a year") << "report person c1 --from 25 PDF" << 2 << "不是年份（YYYY）：25";
        QTest::newRow("years the wrong way") << "report person c1 --from 2026 --to 2025 PDF" << 2
                                             << "第一年 2026（--from）晚于最后一年 2025（--to）";
        QTest::newRow("wrong ending") << "report person c1 --pdf a.xlsx" << 2 << "文件名应以 .pdf 结尾，不是 .xlsx：a.xlsx";
        QTest::newRow("no department") << "report department YEAR PDF" << 2 << "请给出一个部门名称 NAME 或 --all，只给一个";
        QTest::newRow("department and --all") << "report department 放射科 --all YEAR PDF" << 2
                                              << "请给出一个部门名称 NAME 或 --all，只给一个";
        QTest::newRow("two departments") << "report department 放射科 检验科 YEAR PDF" << 2 << "多余的参数：检验科";
        QTest::newRow("no first day") << "report department --all --to 2024-12-31 PDF" << 2 << "缺少 --from yyyy-MM-dd";
        QTest::newRow("last day no date") << "report department --all --from 2024-01-01 --to 2024-02-30 PDF" << 2
                                          << "不是日期（yyyy-MM-dd）：2024-02-30";
        QTest::newRow("period the wrong way") << "report department --all --from 2024-02-01 --to 2024-01-31 PDF" << 2
                                              << "期间的结束日 2024-01-31 早于开始日 2024-02-01";
        QTest::newRow("period of ten years") << "report department --all --from 2014-01-01 --to 2024-01-01 PDF" << 2
                                             << "期间 2014-01-01 至 2024-01-01 超过 10 年";
        QTest::newRow("backup without a file") << "backup" << 2 << "应给出一个备份文件";
        QTest::newRow("backup, wrong ending") << "backup copy.txt" << 2 << "文件名应以 .db 结尾，不是 .txt：copy.txt";
        QTest::newRow("restore without a file") << "restore" << 2 << "应给出一个备份文件";
        QTest::newRow("migrate from nothing") << "migrate" << 2 << "请用 --from PATH 给出要迁移的 SQLite 数据库文件";
        QTest::newRow("no data folder") << "--data-dir nowhere status" << 1 << "文件夹不存在：nowhere";
        QTest::newRow("no database") << "--db none.db status" << 1 << "找不到数据库文件：none.db";
        QTest::newRow("report without a database") << "--db none.db report person c1 PDF" << 1 << "找不到数据库文件：none.db";
        QTest::newRow("unknown department") << "status --department 无此部门" << 1 << "没有部门“无此部门”";
        QTest::newRow("unknown person") << "report person c9 PDF" << 1 << "没有身份证号为 c9 的人员";
        QTest::newRow("migrate into a file") << "migrate --from database.db" << 1
                                             << "migrate 只复制到 PostgreSQL 数据库：请在 zudovi.ini 的 [database] 中设置 "
                                                "driver=QPSQL（现在的数据库是 ./database.db）";
    }
    void reasons()
    {
        QFETCH(QString, args);
        QFETCH(int, code);
        QFETCH(QString, reason);
        ScratchDatabase s;
        const QStringList files = QDir(s.dir.path()).entryList(QDir::Files);
        args.replace("PDF", "--pdf a.pdf").replace("YEAR", "--from 2024-01-01 --to 2024-12-31");
        const Run run = dosectl(s.dir.path(), args.split(' ', Qt::SkipEmptyParts));
        QCOMPARE(QDir(s.dir.path()).entryList(QDir::Files), files); // nothing made, not even an empty database
        QCOMPARE(run.code, code);
        QCOMPARE(run.out, QString());
        const QStringList lines = run.err.split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), "dosectl: " + reason);
        if (code == 1)
            QCOMPARE(lines.size(), 2);
        else
            QVERIFY2(lines.value(1).startsWith("用法："), qPrintable(run.err));
        // Qt's own words of the usage are Chinese too.
        for (const char* english : {"Usage", "Options", "Arguments", "Displays", "XDG_RUNTIME_DIR"})
            QVERIFY2(!run.err.contains(english), qPrintable(run.err));
        QVERIFY2(!run.err.contains("-h, --help") || run.err.contains("在命令行选项上显示帮助"), qPrintable(run.err));
    }

    // A report takes the GUI half of Qt; without a runtime folder it says nothing of it, and
    // leaves no folder of its own behind.
    void reportWithoutRuntimeFolderIsQuiet()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        const QStringList before = QDir::temp().entryList({"dosectl-runtime-*"}, QDir::Dirs);
        const Run run = dosectl(s.dir.path(), {"report", "person", "c1", "--pdf", "c1.pdf"});
        QCOMPARE(run.err, QString());
        QCOMPARE(run.code, 0);
        QVERIFY(QFileInfo(s.path("c1.pdf")).size() > 0);
        QCOMPARE(QDir::temp().entryList({"dosectl-runtime-*"}, QDir::Dirs), before);
    }

    // What dosectl prints for the officer, and what stays as scripts read it.
    void outputsOfTheWritingCommands()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        Run run = dosectl(s.dir.path(), {"backup", "copy.db"});
        QVERIFY2(run.code == 0 && run.err.isEmpty(), qPrintable(run.err));
        QVERIFY2(run.out.startsWith("备份：" + s.path("copy.db") + "\n大小：") && run.out.contains(" 字节\nDepartment：")
                     && run.out.contains("\nStaff：1 行\n"),
                 qPrintable(run.out));
        run = dosectl(s.dir.path(), {"status"});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.startsWith("ID_card,name,department,type,quarter_uSv,year_uSv,last12_uSv,five_year_uSv,level,adjusted\n"
                                    "c1,甲,放射科,职业,0.00,0.00,0.00,0.00,normal,\n"),
                 qPrintable(run.out));
        run = dosectl(s.dir.path(), {"check"});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out, QString("ok\n"));
        QCOMPARE(run.err, QString());
    }
};

QTEST_MAIN(TestCliWords)
#include "tst_cliwords.moc"
