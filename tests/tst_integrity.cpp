// dosectl check: each kind of damage found and named, and --repair mending the totals only.

#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include "support/ScratchDatabase.h"

// Readings of two devices with the day and month totals they make, and a wear period each.
// Every row of table, each value with its type: the repair never touches a reading.
static QString dump(ScratchDatabase& s, const QString& table)
{
    QStringList rows;
    QSqlQuery q(s.db);
    q.exec("select * from " + table + " order by id");
    for (int c = 0; q.next(); c = 0) {
        for (; c < q.record().count(); ++c)
            rows << q.value(c).toString() + q.value(c).typeName();
    }
    return rows.join(';');
}

static void fill(ScratchDatabase& s)
{
    s.store->ensureWearingTable(s.db);
    for (const char* sql : {"insert into Realdata(slaveId, dataTime, probeValue) values(5, '20250101050000', 1.25), (5, '20250101060000', 2.5), (5, '20250102000000', 4), (7, '20250201010000', 0.5)",
                            "insert into Monthdata(slaveId, dataTime, probeValue) values(5, '20250101', 3.75), (5, '20250102', 4), (7, '20250201', 0.5)",
                            "insert into Yeardata(slaveId, dataTime, probeValue) values(5, '202501', 7.75), (7, '202502', 0.5)",
                            "insert into Wearing(slaveId, ID_card, startTime, endTime) values(5, 'c1', '20240101000000', ''), (7, 'c2', '20240101000000', '')"})
        QVERIFY(s.exec(sql));
}

class TestIntegrity : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    // The findings of one damage, what --repair changes (nothing when empty), and a check after it.
    void checkAndRepair_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("repaired");
        QTest::newRow("clean") << "select 1" << "ok" << "";
        QTest::newRow("day total off by less than 0.001") << "update Monthdata set probeValue = 3.7509 where dataTime = '20250101'" << "ok" << "";
        QTest::newRow("wrong day total") << "update Monthdata set probeValue = 3.749 where dataTime = '20250101'" << "Monthdata slaveId=5 dataTime=20250101: 累计与读数之和不符：应为 3.750，实为 3.749" << "Monthdata slaveId=5 dataTime=20250101: 更新 3.749 → 3.750\n已修复 Monthdata：插入 0 行，更新 1 行，删除 0 行\n";
        QTest::newRow("wrong month total") << "update Yeardata set probeValue = 7.7 where slaveId = 5" << "Yeardata slaveId=5 dataTime=202501: 累计与读数之和不符：应为 7.750，实为 7.700" << "Yeardata slaveId=5 dataTime=202501: 更新 7.700 → 7.750\n已修复 Yeardata：插入 0 行，更新 1 行，删除 0 行\n";
        QTest::newRow("total without readings") << "insert into Yeardata(slaveId, dataTime, probeValue) values(5, '201901', 100)" << "Yeardata slaveId=5 dataTime=201901: 有累计而没有读数：应为 无，实为 100.000" << "";
        QTest::newRow("readings without total") << "delete from Monthdata where dataTime = '20250102'" << "Monthdata slaveId=5 dataTime=20250102: 有读数而没有累计：应为 4.000，实为 无" << "Monthdata slaveId=5 dataTime=20250102: 插入 4.000\n已修复 Monthdata：插入 1 行，更新 0 行，删除 0 行\n";
        QTest::newRow("second total row") << "insert into Yeardata(slaveId, dataTime, probeValue) values(7, '202502', 9)" << "Yeardata slaveId=7 dataTime=202502: 累计重复：应为 1 行，实为 2 行" << "Yeardata slaveId=7 dataTime=202502: 删除第二行（id 3，9.000）\n已修复 Yeardata：插入 0 行，更新 0 行，删除 1 行\n";
        QTest::newRow("duplicate reading") << "insert into Realdata(slaveId, dataTime, probeValue) values(7, '20250201010000', 0)" << "Realdata slaveId=7 dataTime=20250201010000: 读数重复：应为 1 行，实为 2 行" << "";
        QTest::newRow("periods of one address overlap") << "insert into Wearing(slaveId, ID_card, startTime, endTime) values(5, 'c3', '20241231230000', '')" << "Wearing slaveId=5: 同一地址的佩戴期间重叠：应为 无，实为 id 1（ID_card c1，20240101000000 至今）与 id 3（ID_card c3，20241231230000 至今）" << "";
        QTest::newRow("periods of one address meet, the earlier row first") << "insert into Wearing(id, slaveId, ID_card, startTime, endTime) values(0, 5, 'c3', '20230101000000', '20240101000000')" << "ok" << "";
        QTest::newRow("periods of one address meet") << "insert into Wearing(slaveId, ID_card, startTime, endTime) values(5, 'c3', '20230101000000', '20240101000000')" << "ok" << "";
        // Time keys that are no time: reported, left alone, counted towards no total.
        const QString reading = "insert into Realdata(slaveId, dataTime, probeValue) values(5, '%1', 9)";
        const QString malformed = "Realdata: 时间键格式错误：应为 yyyyMMddhh0000，实为 1 行：slaveId=5 ";
        for (const char* key : {"2025010105000", "20251301050000", "2025O101050000", "20250101240000", "20250101053000", "20250230050000"})
            QTest::newRow(qPrintable(QString("reading at ") + key)) << reading.arg(key) << malformed + key << "";
        QTest::newRow("reading on a leap day") << reading.arg("20240229050000") << "Monthdata slaveId=5 dataTime=20240229: 有读数而没有累计：应为 9.000，实为 无\nYeardata slaveId=5 dataTime=202402: 有读数而没有累计：应为 9.000，实为 无" << "Monthdata slaveId=5 dataTime=20240229: 插入 9.000\nYeardata slaveId=5 dataTime=202402: 插入 9.000\n已修复 Monthdata：插入 1 行，更新 0 行，删除 0 行\n已修复 Yeardata：插入 1 行，更新 0 行，删除 0 行\n";
        QTest::newRow("readings at four malformed keys") << "insert into Realdata(slaveId, dataTime, probeValue) values(5, '2025010124', 1), (5, 'x', 1), (7, '20250101250000', 1), (7, '20251301000000', 1)" << "Realdata: 时间键格式错误：应为 yyyyMMddhh0000，实为 4 行：slaveId=5 2025010124，slaveId=5 x，slaveId=7 20250101250000，…" << "";
        QTest::newRow("day total on the 32nd") << "insert into Monthdata(slaveId, dataTime, probeValue) values(5, '20250132', 1)" << "Monthdata: 时间键格式错误：应为 yyyyMMdd，实为 1 行：slaveId=5 20250132" << "";
        QTest::newRow("month total of month 0") << "insert into Yeardata(slaveId, dataTime, probeValue) values(7, '202500', 1)" << "Yeardata: 时间键格式错误：应为 yyyyMM，实为 1 行：slaveId=7 202500" << "";
        QTest::newRow("period ending at a day") << "update Wearing set endTime = '2025010100' where slaveId = 7" << "Wearing: 时间键格式错误：应为 yyyyMMddhh0000-yyyyMMddhh0000，实为 1 行：slaveId=7 20240101000000-2025010100" << "";
        QTest::newRow("periods of one person overlap") << "update Wearing set ID_card = 'c1' where slaveId = 7" << "Wearing ID_card=c1: 同一人员的佩戴期间重叠：应为 无，实为 id 1（slaveId 5，20240101000000 至今）与 id 2（slaveId 7，20240101000000 至今）" << "";
    }
    void checkAndRepair()
    {
        QFETCH(QString, damage);
        QFETCH(QString, found);
        QFETCH(QString, repaired);
        ScratchDatabase s;
        fill(s);
        // A shared store keeps one row per key: it refuses a second one.
        QCOMPARE(s.exec(damage), !(s.postgres() && found.contains("重复")));
        if (s.postgres() && found.contains("重复"))
            found = "ok", repaired.clear();
        const QString readings = dump(s, "Realdata");
        const QStringList check{"check"};
        const QString left = repaired.isEmpty() ? found : "ok";
        QString out, err;
        QCOMPARE(ctl(check, &out, &err), found == "ok" ? 0 : 1);
        QCOMPARE(out, found + "\n");
        QCOMPARE(ctl(check + QStringList{"--repair"}, &out, &err), left == "ok" ? 0 : 1);
        QCOMPARE(out, repaired + left + "\n");
        QCOMPARE(dump(s, "Realdata"), readings);
        QCOMPARE(ctl(check, &out, &err), left == "ok" ? 0 : 1);
        QCOMPARE(out, left + "\n");
    }

    // A file SQLite finds damaged is reported alone, in the officer's words with SQLite's own, and not repaired.
    void damagedFileReportedAndLeftAlone()
    {
        ScratchDatabase s;
        if (s.postgres())
            QSKIP("a server keeps its own files whole");
        fill(s);
        // An index whose recorded definition no longer matches its entries.
        QVERIFY(s.exec("create index dmg on Realdata(probeValue)") && s.exec("pragma writable_schema = 1")
                && s.exec("update sqlite_master set sql = 'CREATE INDEX dmg ON Realdata(slaveId)' where name = 'dmg'"));
        const QString totals = dump(s, "Monthdata");
        QString out, err;
        QCOMPARE(ctl({"check"}, &out, &err), 1);
        QVERIFY2(out.startsWith("database: 文件已损坏（integrity_check）：应为 ok，实为 row 1 missing from index dmg\n"),
                 qPrintable(out));
        QCOMPARE(ctl({"check", "--repair"}, &out, &err), 1);
        QVERIFY2(err.startsWith("dosectl: 数据库文件已损坏（row 1 missing from index dmg），不能修复；请恢复一个备份（")
                     && err.endsWith("database.db）\n") && out.isEmpty(),
                 qPrintable(err));
        QCOMPARE(dump(s, "Monthdata"), totals);
    }

    void repairAuditedAsOneTransaction()
    {
        ScratchDatabase s;
        fill(s);
        QVERIFY(s.exec("update Monthdata set probeValue = 0") && s.exec("update Yeardata set probeValue = 0 where slaveId = 7"));
        QVERIFY(s.sabotage("insert", "AuditLog"));
        const QStringList repair{"check", "--repair"};
        QString out, err;
        QVERIFY(ctl(repair, &out, &err) == 1 && err.contains("审计日志") && out.isEmpty());
        QCOMPARE(s.value("select coalesce(sum(probeValue), 0) from Monthdata").toDouble(), 0.0);
        QVERIFY(s.repair("insert", "AuditLog"));
        QCOMPARE(ctl(repair, &out, &err), 0);
        QCOMPARE(s.list("select tableName, rowKey, detail from AuditLog where action = 'repair' order by id"),
                 "Monthdata 5 7 0 inserted, 3 updated, 0 deleted,Yeardata 7 0 inserted, 1 updated, 0 deleted");
        QVERIFY(ctl({"--db", s.path("none.db"), "check"}, &out, &err) == 1 && !QFile::exists(s.path("none.db")));
        QVERIFY(ctl({"check", "--bogus"}, &out, &err) == 2 && err.contains("Usage:"));
        QVERIFY(ctl({"--help"}, &out, &err) == 0 && out.contains("check"));
    }
};

QTEST_MAIN(TestIntegrity)
#include "tst_integrity.moc"
