// Passive results reconciled with the electronic dose: the tolerance boundaries, the codes, the per-month netting,
// the closing of a flag, and dosectl reconcile's CSV and exit codes.

#include <QtTest>

#include "core/dose/DosePolicy.h"
#include "core/dose/Reconciliation.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"
#include "support/PassiveSeed.h"
#include "support/ScratchDatabase.h"

namespace {

const QString kHeader = QStringLiteral("ID_card,name,department,periodStart,periodEnd,passive_uSv,code,electronic_uSv,"
                                       "difference_uSv,difference_percent,flag");

} // namespace

class TestReconcile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }
    void init() { Clock::setNow(QDateTime(QDate(2026, 6, 15), QTime(10, 30))); }
    void cleanup() { Clock::reset(); }

    // One person, one result of March 2026 unless the row says otherwise;
    // the hour's background is 0.23, so a gross hour of E + 0.23 nets E.
    void boundaries_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<double>("hp10");
        QTest::addColumn<QString>("period"); // "yyyyMMdd-yyyyMMdd"
        QTest::addColumn<Hours>("hours");
        QTest::addColumn<QString>("expected"); // passive_uSv .. flag

        const QString march = "20260301-20260331";
        auto one = [](double net) { return Hours{{"2026031012", net + 0.23}}; };
        QTest::newRow("exactly 25 %") << "" << 1000.0 << march << one(1250) << "1000.00,,1250.00,250.00,25.00,ok";
        QTest::newRow("above 25 %") << "" << 1000.0 << march << one(1250.01) << "1000.00,,1250.01,250.01,25.00,differs";
        QTest::newRow("25 % below") << "" << 1000.0 << march << one(750) << "1000.00,,750.00,-250.00,-25.00,ok";
        QTest::newRow("below by more") << "" << 1000.0 << march << one(749.99) << "1000.00,,749.99,-250.01,-25.00,differs";
        QTest::newRow("exactly 100 uSv") << "" << 300.0 << march << one(400) << "300.00,,400.00,100.00,33.33,ok";
        QTest::newRow("above 100 uSv") << "" << 300.0 << march << one(400.01) << "300.00,,400.01,100.01,33.34,differs";
        QTest::newRow("no electronic") << "" << 150.0 << march << Hours{}
                                      << "150.00,,0.00,-150.00,-100.00,differs";
        QTest::newRow("M at 100") << "M" << kNoHp10 << march << one(100) << "0.00,M,100.00,100.00,,ok";
        QTest::newRow("M above 100") << "M" << kNoHp10 << march << one(100.01) << "0.00,M,100.01,100.01,,differs";
        QTest::newRow("not returned") << "not_returned" << kNoHp10 << march << one(5) << ",not_returned,5.00,,,not_returned";
        QTest::newRow("unused") << "unused" << kNoHp10 << march << one(0) << ",unused,0.00,,,unused";
        QTest::newRow("no Hp(10)") << "" << kNoHp10 << march << one(5) << ",,5.00,,,differs";
        QTest::newRow("zero passive") << "" << 0.0 << march << one(100) << "0.00,,100.00,100.00,,ok";
        // March 15 to April 15, both included: March's part has one empty
        // hour (nets 0, not −0.23), April's part 50.23 in one hour (nets
        // 50): 50.00, where the period netted as a whole would give 49.77.
        // The hours just outside the days are not the period's.
        QTest::newRow("two months netted apart")
            << "" << 50.0 << "20260315-20260415"
            << Hours{{"2026031423", 500}, {"2026031500", 0}, {"2026041523", 50.23}, {"2026041600", 900}}
            << "50.00,,50.00,0.00,0.00,ok";
    }

    void boundaries()
    {
        QFETCH(QString, code);
        QFETCH(double, hp10);
        QFETCH(QString, period);
        QFETCH(Hours, hours);
        QFETCH(QString, expected);
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        addHours(s, 1, hours);
        QVERIFY(addPassiveResult(s, "c1", period.left(8), period.mid(9), code, hp10) > 0);
        QList<Reconciliation::Row> rows;
        QString why;
        QVERIFY2(Reconciliation(*s.store, s.db, DosePolicy()).run(QDate(2026, 3, 1), QDate(2026, 3, 31), QString(), rows, &why),
                 qPrintable(why));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(Reconciliation::fields(rows[0]).mid(5).join(','), expected);
        QCOMPARE(Reconciliation::fields(rows[0]).mid(0, 5).join(','),
                 "c1,甲,放射科," + QDate::fromString(period.left(8), "yyyyMMdd").toString("yyyy-MM-dd") + ","
                     + QDate::fromString(period.mid(9), "yyyyMMdd").toString("yyyy-MM-dd"));
    }

    void closingAFlag()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        addHours(s, 1, {{"2026031012", 900.23}});
        const int differs = addPassiveResult(s, "c1", "20260301", "20260331", "", 100);
        const int ok = addPassiveResult(s, "c1", "20260401", "20260430", QString(), 0); // no code: stored as ''
        QVERIFY(ok > 0);
        const int old = addPassiveResult(s, "c1", "20260501", "20260531", "not_returned", kNoHp10);
        const int amended = addPassiveResult(s, "c1", "20260501", "20260531", "unused", kNoHp10, {old});
        Reconciliation reconcile(*s.store, s.db, DosePolicy());
        QString why;
        QVERIFY(!reconcile.close(differs, "  ", "officer", &why));
        QCOMPARE(why, QStringLiteral("关闭标记须填写说明"));
        QVERIFY(!reconcile.close(ok, "已核实", "officer", &why));
        QVERIFY2(why.contains("一致"), qPrintable(why));
        QVERIFY(!reconcile.close(old, "已核实", "officer", &why));
        QVERIFY2(why.contains("替换"), qPrintable(why));
        QVERIFY(!reconcile.close(9999, "已核实", "officer", &why));
        QCOMPARE(s.value("select count(*) from PassiveResult where closedAt is not null").toInt(), 0);

        QVERIFY2(reconcile.close(differs, "剂量计放在机房内, 已核实", "officer", &why), qPrintable(why));
        QCOMPARE(s.list("select closedBy, closedAt, closeComment from PassiveResult where closedAt is not null"),
                 QStringLiteral("officer 2026-06-15 10:30:00 剂量计放在机房内, 已核实"));
        QCOMPARE(s.value("select count(*) from AuditLog where tableName = 'PassiveResult' and action = 'update' and "
                         "rowKey like ?",
                         {QStringLiteral("%1 c1 %").arg(differs)})
                     .toInt(),
                 1);
        // Once: neither a second close nor a hand-written change of the closing.
        QVERIFY(!reconcile.close(differs, "再关闭一次", "other", &why));
        QVERIFY2(why.contains("已于 2026-06-15 10:30:00 由 officer 关闭"), qPrintable(why));
        QVERIFY(!s.exec("update PassiveResult set closeComment = 'changed' where id = ?", {differs}));
        QVERIFY2(reconcile.close(amended, "未使用, 已收回", "officer", &why), qPrintable(why));

        // Shown as closed; the flag keeps its word.
        QList<Reconciliation::Row> rows;
        QVERIFY(reconcile.run(QDate(2026, 1, 1), QDate(2026, 12, 31), QString(), rows, &why));
        QStringList shown;
        for (const auto& r : qAsConst(rows))
            shown << r.flag + "/" + Reconciliation::resultText(r);
        QCOMPARE(shown.join(' '), QStringLiteral("differs/不一致 (已关闭) unused/未使用 (已关闭) ok/一致"));
    }

    // dosectl reconcile on a register of two departments: the window, the
    // department, the order, a replaced result left out, the exit codes.
    void dosectlWholeRoad()
    {
        ScratchDatabase s;
        s.addPerson("c2", "乙");
        s.addDevice(2, "c2");
        s.addPerson("c1", "甲, 大");
        s.addDevice(1, "c1");
        s.addPerson("c3", "丙", "核医学科");
        QVERIFY(s.exec("insert into Department(department, dname) values('放射科', '主任'), ('核医学科', '主任')"));
        s.addDevice(3, "c3");
        addHours(s, 1, {{"2026031012", 400.23}, {"2026041012", 80.23}});
        addHours(s, 2, {{"2026031012", 10.23}});
        addHours(s, 3, {{"2026031012", 200.23}});
        const int replaced = addPassiveResult(s, "c1", "20260301", "20260331", "", 9000);
        QVERIFY(addPassiveResult(s, "c1", "20260301", "20260331", "", 100, {replaced}) > 0);
        QVERIFY(addPassiveResult(s, "c1", "20260401", "20260430", "", 80) > 0);
        QVERIFY(addPassiveResult(s, "c1", "20260501", "20260531", "", 1) > 0); // after the window
        QVERIFY(addPassiveResult(s, "c2", "20260215", "20260310", "not_returned", kNoHp10) > 0);
        QVERIFY(addPassiveResult(s, "c3", "20260301", "20260331", "", 190) > 0);

        QString out, err;
        QVERIFY2(ctl({"reconcile", "--from", "2026-03-10", "--to", "2026-04-30"}, &out, &err) == 0, qPrintable(err));
        QCOMPARE(out, kHeader + "\n"
                          "c1,\"甲, 大\",放射科,2026-03-01,2026-03-31,100.00,,400.00,300.00,300.00,differs\n"
                          "c2,乙,放射科,2026-02-15,2026-03-10,,not_returned,10.00,,,not_returned\n"
                          "c1,\"甲, 大\",放射科,2026-04-01,2026-04-30,80.00,,80.00,0.00,0.00,ok\n"
                          "c3,丙,核医学科,2026-03-01,2026-03-31,190.00,,200.00,10.00,5.26,ok\n");
        QCOMPARE(ctl({"reconcile", "--from", "2026-03-11", "--to", "2026-03-31", "--department", "核医学科"}, &out, &err), 0);
        QCOMPARE(out, kHeader + "\nc3,丙,核医学科,2026-03-01,2026-03-31,190.00,,200.00,10.00,5.26,ok\n");
        // The stored policy moves the boundaries: 10 apart is beyond 5 %
        // and 9.99 μSv.
        QVERIFY(s.exec("update DosePolicy set value = 5 where name = 'reconcile_tolerance_percent'"));
        QVERIFY(s.exec("update DosePolicy set value = 9.99 where name = 'reconcile_tolerance_uSv'"));
        QCOMPARE(ctl({"reconcile", "--from", "2026-03-11", "--to", "2026-03-31", "--department", "核医学科"}, &out, &err), 0);
        QCOMPARE(out, kHeader + "\nc3,丙,核医学科,2026-03-01,2026-03-31,190.00,,200.00,10.00,5.26,differs\n");

        // A closed flag is still listed as it was computed.
        const int first = s.value("select id from PassiveResult where ID_card = 'c1' and replacedBy is null and "
                                  "periodStart = '20260301'").toInt();
        QCOMPARE(ctl({"reconcile", "close", "--card", "c1", "--start", "2026-03-02", "--comment", "已调查"}, &out, &err), 1);
        QCOMPARE(err, QStringLiteral("dosectl: c1 没有从 2026-03-02 开始的个人剂量计结果\n"));
        QVERIFY2(ctl({"reconcile", "close", "--card", "c1", "--start", "2026-03-01", "--comment", "已调查"}, &out, &err) == 0,
                 qPrintable(err));
        QCOMPARE(s.value("select closedBy from PassiveResult where id = ?", {first}).toString(), Transaction::actor());
        QCOMPARE(ctl({"reconcile", "close", QString::number(first), "--comment", "再次"}, &out, &err), 1);
        QVERIFY2(err.startsWith("dosectl: ") && err.contains("已于"), qPrintable(err));
        QCOMPARE(ctl({"reconcile", "--from", "2026-03-01", "--to", "2026-03-31", "--department", "放射科"}, &out, &err), 0);
        QVERIFY2(out.contains("c1,\"甲, 大\",放射科,2026-03-01,2026-03-31,100.00,,400.00,300.00,300.00,differs\n"),
                 qPrintable(out));

        // The command line wrong: 2; an unknown department: 1.
        for (const QStringList& wrong : {QStringList{"reconcile"}, QStringList{"reconcile", "--from", "2026-03-01"},
                                         QStringList{"reconcile", "--from", "2026-13-01", "--to", "2026-03-31"},
                                         QStringList{"reconcile", "--from", "2026-04-01", "--to", "2026-03-31"},
                                         QStringList{"reconcile", "--from", "2026-03-01", "--to", "2026-03-31", "extra"},
                                         QStringList{"reconcile", "close", "1"}, QStringList{"reconcile", "close", "x", "--comment", "c"},
                                         QStringList{"reconcile", "close", "1", "--card", "c1", "--start", "2026-03-01", "--comment", "c"},
                                         QStringList{"reconcile", "close", "--card", "c1", "--comment", "c"}})
            QVERIFY2(ctl(wrong, &out, &err) == 2, qPrintable(wrong.join(' ')));
        QCOMPARE(ctl({"reconcile", "--from", "2026-03-01", "--to", "2026-03-31", "--department", "无此部门"}, &out, &err), 1);
        QCOMPARE(err, QStringLiteral("dosectl: 没有部门“无此部门”\n"));
        QVERIFY(out.isEmpty());
    }

    // What cannot be read is an error, never a table of "ok": the core's
    // reason, and dosectl's exit code 1 with nothing on standard output.
    void unreadable_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("results") << "PassiveResult";
        QTest::newRow("readings") << "Realdata";
        QTest::newRow("people") << "Staff";
    }

    void unreadable()
    {
        QFETCH(QString, table);
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        addHours(s, 1, {{"2026031012", 10.23}});
        QVERIFY(addPassiveResult(s, "c1", "20260301", "20260331", "", 10) > 0);
        QVERIFY(s.sabotage("lookup", table));
        QString out, err;
        QCOMPARE(ctl({"reconcile", "--from", "2026-03-01", "--to", "2026-03-31"}, &out, &err), 1);
        QVERIFY(out.isEmpty());
        QVERIFY2(err.startsWith("dosectl: "), qPrintable(err));
        // The table gone altogether, where no layout brings it back.
        const DosePolicy policy = DosePolicy::load(*s.store, s.db);
        QVERIFY(s.exec("drop view " + table));
        QList<Reconciliation::Row> rows;
        QString why;
        QVERIFY(!Reconciliation(*s.store, s.db, policy).run(QDate(2026, 3, 1), QDate(2026, 3, 31), QString(), rows, &why));
        QVERIFY(rows.isEmpty());
        QVERIFY(!why.isEmpty());
    }
};

QTEST_MAIN(TestReconcile)
#include "tst_reconcile.moc"
