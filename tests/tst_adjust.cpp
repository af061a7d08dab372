// Dose adjustments: filing and its refusals, four eyes, the notional values, the dose of record they change,
// and the rows the database keeps as they were settled.

#include <QtTest>

#include "core/dose/AdjustmentStore.h"
#include "core/dose/DoseOfRecord.h"
#include "core/dose/DoseStatus.h"
#include "core/dose/NotionalDose.h"
#include "core/register/Staffdata.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"
#include "support/ScratchDatabase.h"

namespace {

const QString kAlice = QStringLiteral("alice@station1");
const QString kBob = QStringLiteral("bob@station2");
const QString kReason = QStringLiteral("剂量计遗失, 按规定估算本月剂量");

AdjustmentStore::Filing filing(const QString& card, const QString& month, const QString& kind, double value,
                               const QString& method = QStringLiteral("stated"), const QString& reason = kReason)
{
    return {card, month, kind, method, value, reason};
}

// What NotionalDose gives for c1's April 2026 by method: the value, or the start of its refusal.
void notional(ScratchDatabase& s, const char* method, const QString& expected)
{
    double value = -1;
    QString why;
    const bool computed = NotionalDose::value(*s.store, s.db, "c1", "202604", method, value, &why);
    QVERIFY2(computed == expected.front().isDigit(), qPrintable(why));
    if (computed)
        QCOMPARE(value, expected.toDouble());
    else
        QVERIFY2(why.startsWith(expected), qPrintable(why));
}

// The person's dose of record of one month, and its original, as "dose/original".
QString monthOf(ScratchDatabase& s, const QString& card, const QString& month)
{
    DoseOfRecord::Months months;
    const QDateTime from(QDate::fromString(month + "01", "yyyyMMdd"), QTime(0, 0));
    if (!DoseStatus(*s.store, s.db).months(card, from, from.addMonths(1), months) || !months.contains(month))
        return QStringLiteral("error");
    const DoseOfRecord::Month m = months.value(month);
    return QStringLiteral("%1/%2%3").arg(m.dose(), 0, 'f', 2).arg(m.original(), 0, 'f', 2).arg(m.pending ? " pending" : "");
}

} // namespace

class TestAdjust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }
    void init() { Clock::setNow(QDateTime(QDate(2026, 6, 15), QTime(10, 30))); }
    void cleanup() { Clock::reset(); }

    void refusals_data()
    {
        QTest::addColumn<QString>("filed"); // card month kind method value; the reason kReason unless given after a '|'
        QTest::addColumn<QString>("why");
        QTest::newRow("unknown person") << "c9 202603 notional stated 5" << "没有身份证号为 c9 的人员";
        QTest::newRow("a month in the future") << "c1 202607 notional stated 5" << "不能更正将来的月份 202607";
        QTest::newRow("no month") << "c1 2026-3 notional stated 5" << "月份应为 yyyyMM";
        QTest::newRow("month 13") << "c1 202613 notional stated 5" << "月份应为 yyyyMM";
        QTest::newRow("negative") << "c1 202603 replace stated -0.01" << "剂量不能为负";
        QTest::newRow("empty reason") << "c1 202603 replace stated 5|" << "请写明原因";
        QTest::newRow("nine characters") << "c1 202603 replace stated 5|  遗失遗失遗失遗失遗 " << "请写明原因";
        QTest::newRow("unknown kind") << "c1 202603 estimate stated 5" << "类型只能是 replace 或 notional";
        QTest::newRow("unknown method") << "c1 202603 replace guess 5" << "方法只能是";
        QTest::newRow("replace outside the wear periods") << "c2 202603 replace stated 5" << "c2 在 202603 没有佩戴期";
        QTest::newRow("replace before the period began") << "c3 202604 replace stated 5" << "c3 在 202604 没有佩戴期";
    }
    void refusals()
    {
        QFETCH(QString, filed);
        QFETCH(QString, why);
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addPerson("c2", "乙"); // never wore one
        s.addPerson("c3", "丙");
        QVERIFY(s.exec("insert into Wearing(slaveId, ID_card, startTime, endTime) values(3, 'c3', '20260501000000', '')"));
        const QStringList f = filed.section('|', 0, 0).split(' ');
        const QString reason = filed.contains('|') ? filed.section('|', 1) : kReason;
        QString said;
        QCOMPARE(AdjustmentStore(*s.store).file(filing(f[0], f[1], f[2], f[4].toDouble(), f[3], reason), kAlice, &said, s.db), 0);
        QVERIFY2(said.startsWith(why), qPrintable(said));
        QCOMPARE(s.count("DoseAdjustment"), 0);
    }

    void notionalOutsideTheWearPeriodsAndThisMonth()
    {
        ScratchDatabase s;
        s.addPerson("c2", "乙");
        QString said;
        AdjustmentStore adjustments(*s.store);
        // They were supposed to wear one: a notional dose is what the month needs.
        QVERIFY2(adjustments.file(filing("c2", "202603", "notional", 120), kAlice, &said, s.db) > 0, qPrintable(said));
        QVERIFY2(adjustments.file(filing("c2", "202606", "notional", 1.234), kAlice, &said, s.db) > 0, qPrintable(said));
        QCOMPARE(s.list("select month, kind, value_uSv, method, state, createdBy, createdAt from DoseAdjustment order by id"),
                 "202603 notional 120 stated pending " + kAlice + " 2026-06-15 10:30:00,202606 notional 1.23 stated "
                 "pending " + kAlice + " 2026-06-15 10:30:00");
        QCOMPARE(s.value("select reason from DoseAdjustment where month = '202603'").toString(), kReason);
    }

    void fourEyes()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}, {"202604", 10}});
        AdjustmentStore adjustments(*s.store);
        QString said;
        const int id = adjustments.file(filing("c1", "202603", "replace", 4), kAlice, &said, s.db);
        QVERIFY2(id > 0, qPrintable(said));
        // Waiting: nothing changes but the mark that one waits.
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("40.00/40.00 pending"));

        QVERIFY(!adjustments.approve(id, kAlice, &said, s.db));
        QCOMPARE(said, QStringLiteral("不能批准自己提交的剂量更正 (%1 由 %2 提交), 须由另一账户批准").arg(id).arg(kAlice));
        QCOMPARE(s.value("select state from DoseAdjustment").toString(), QStringLiteral("pending"));

        Clock::setNow(QDateTime(QDate(2026, 6, 16), QTime(9, 0)));
        QVERIFY2(adjustments.approve(id, kBob, &said, s.db), qPrintable(said));
        QCOMPARE(s.list("select state, approvedBy, approvedAt from DoseAdjustment"),
                 "approved " + kBob + " 2026-06-16 09:00:00");
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("4.00/40.00"));
        DoseFigures f;
        QVERIFY(DoseStatus(*s.store, s.db).figures("c1", Clock::now(), f));
        QCOMPARE(f.year, 14.0);
        QCOMPARE(f.quarter, 10.0);
        // The originals are as they were.
        QCOMPARE(s.value("select sum(probeValue) from Realdata").toDouble(), 50.46);
        DoseOfRecord::Months originals;
        QVERIFY(DoseOfRecord::originalMonths(*s.store, s.db, "c1", QDateTime(QDate(2026, 1, 1), QTime(0, 0)),
                                             QDateTime(QDate(2026, 7, 1), QTime(0, 0)), 0.23, originals));
        QCOMPARE(DoseOfRecord::sum(originals), qint64(5000));

        // Settled: neither approved again nor withdrawn.
        QVERIFY(!adjustments.approve(id, "carol@h", &said, s.db));
        QVERIFY2(said.contains("已批准"), qPrintable(said));
        QVERIFY(!adjustments.withdraw(id, "填错了月份", kBob, &said, s.db));
        QVERIFY2(said.contains("只能撤回待批准的"), qPrintable(said));
        QVERIFY(!adjustments.approve(id + 100, kBob, &said, s.db));
        QCOMPARE(said, QStringLiteral("没有编号为 %1 的剂量更正").arg(id + 100));
    }

    void approvalRaisesTheAlert()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲", "放射科", 1); // judged by the levels of others: 250 a quarter
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202604", 10}});
        AdjustmentStore adjustments(*s.store);
        QString said;
        const int id = adjustments.file(filing("c1", "202604", "replace", 300), kAlice, &said, s.db);
        QCOMPARE(s.count("DoseAlert"), 0);
        QVERIFY2(adjustments.approve(id, kBob, &said, s.db), qPrintable(said));
        QCOMPARE(s.list("select ID_card, level, periodKey, dose from DoseAlert"), QStringLiteral("c1 investigate 2026Q2 300"));
    }

    void withdrawn()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}});
        AdjustmentStore adjustments(*s.store);
        QString said;
        const int id = adjustments.file(filing("c1", "202603", "replace", 4), kAlice, &said, s.db);
        QVERIFY(!adjustments.withdraw(id, "  ", kAlice, &said, s.db));
        QCOMPARE(said, QStringLiteral("请写明撤回的原因"));
        QVERIFY2(adjustments.withdraw(id, "读数其实正常", kAlice, &said, s.db), qPrintable(said));
        QCOMPARE(s.list("select state, withdrawnBy, withdrawnAt, withdrawReason from DoseAdjustment"),
                 "withdrawn " + kAlice + " 2026-06-15 10:30:00 读数其实正常");
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("40.00/40.00"));
        QVERIFY(!adjustments.approve(id, kBob, &said, s.db));
        QVERIFY2(said.contains("已撤回"), qPrintable(said));
    }

    void laterApprovalCounts()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}});
        AdjustmentStore adjustments(*s.store);
        QString said;
        const int first = adjustments.file(filing("c1", "202603", "replace", 4), kAlice, &said, s.db);
        const int second = adjustments.file(filing("c1", "202603", "replace", 7), kAlice, &said, s.db);
        QVERIFY(first > 0 && second > first);
        // The one filed later is approved first; the earlier one's approval, later, counts, even within one second.
        QVERIFY(adjustments.approve(second, kBob, &said, s.db));
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("7.00/40.00 pending"));
        QVERIFY(adjustments.approve(first, kBob, &said, s.db));
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("4.00/40.00"));
        QCOMPARE(s.list("select id, state, approvedAt from DoseAdjustment order by id"),
                 QStringLiteral("%1 approved 2026-06-15 10:30:01,%2 approved 2026-06-15 10:30:00").arg(first).arg(second));
        // A replace with the original undoes it; all three stay.
        const int undo = adjustments.file(filing("c1", "202603", "replace", 40), kAlice, &said, s.db);
        Clock::setNow(QDateTime(QDate(2026, 6, 20), QTime(8, 0)));
        QVERIFY(adjustments.approve(undo, kBob, &said, s.db));
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("40.00/40.00"));
        QCOMPARE(s.count("DoseAdjustment"), 3);
    }

    void approvedWhenFiledWithoutFourEyes()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}});
        QVERIFY(s.exec("update DosePolicy set value = 0 where name = 'adjustment_needs_approval'"));
        AdjustmentStore adjustments(*s.store);
        QString said;
        const int id = adjustments.file(filing("c1", "202603", "notional", 12.5), kAlice, &said, s.db);
        QVERIFY2(id > 0, qPrintable(said));
        QCOMPARE(s.list("select state, approvedBy, approvedAt from DoseAdjustment"),
                 "approved " + kAlice + " 2026-06-15 10:30:00");
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("12.50/40.00"));
        QCOMPARE(s.list("select action, rowKey, detail from AuditLog where tableName = 'DoseAdjustment' and action = 'approve'"),
                 QStringLiteral("approve %1 c1 202603 approved when filed: adjustment_needs_approval = 0").arg(id));
        QCOMPARE(s.value("select count(*) from AuditLog where tableName = 'DoseAdjustment' and action = 'insert'").toInt(), 1);
        // An unreadable policy files nothing: it could not say whether a second account is needed.
        QVERIFY(s.sabotage("drop", "DosePolicy"));
        QCOMPARE(adjustments.file(filing("c1", "202603", "notional", 12.5), kAlice, &said, s.db), 0);
        QCOMPARE(said, QStringLiteral("无法读取剂量政策, 未保存"));
        QCOMPARE(s.count("DoseAdjustment"), 1);
    }

    void databaseKeepsSettledRows_data()
    {
        QTest::addColumn<QString>("state"); // of the row the statement meets
        QTest::addColumn<QString>("statement");
        QTest::addColumn<bool>("refused");
        QTest::newRow("approved: value") << "approved" << "update DoseAdjustment set value_uSv = 1" << true;
        QTest::newRow("approved: back to pending") << "approved" << "update DoseAdjustment set state = 'pending'" << true;
        QTest::newRow("approved: approver") << "approved" << "update DoseAdjustment set approvedBy = 'x'" << true;
        QTest::newRow("approved: withdrawn") << "approved"
                                             << "update DoseAdjustment set state = 'withdrawn', withdrawReason = 'x'"
                                             << true;
        QTest::newRow("approved: delete") << "approved" << "delete from DoseAdjustment" << true;
        QTest::newRow("approved: insert of its id")
            << "approved"
            << "insert into DoseAdjustment(id, ID_card, month, kind, value_uSv, method, reason, createdBy, createdAt, "
               "state) select id, ID_card, month, kind, 0, method, reason, createdBy, createdAt, 'pending' from DoseAdjustment"
            << true;
        QTest::newRow("approved: the ID card alone") << "approved" << "update DoseAdjustment set ID_card = 'c7'" << false;
        QTest::newRow("withdrawn: reason") << "withdrawn" << "update DoseAdjustment set withdrawReason = 'y'" << true;
        QTest::newRow("withdrawn: approved") << "withdrawn" << "update DoseAdjustment set state = 'approved'" << true;
        QTest::newRow("pending: value") << "pending" << "update DoseAdjustment set value_uSv = 1" << true;
        QTest::newRow("pending: reason") << "pending" << "update DoseAdjustment set reason = '另一个很长的原因文字'" << true;
        QTest::newRow("pending: approved by its author")
            << "pending" << "update DoseAdjustment set state = 'approved', approvedBy = createdBy" << true;
        QTest::newRow("pending: delete") << "pending" << "delete from DoseAdjustment" << true;
        QTest::newRow("pending: approved by another")
            << "pending" << "update DoseAdjustment set state = 'approved', approvedBy = 'z'" << false;
        const QString insert = "insert into DoseAdjustment(ID_card, month, kind, value_uSv, method, reason, createdBy, "
                               "createdAt, state) values('c1', '202603', 'replace', %1, 'stated', '%2', 'x', 'y', '%3')";
        QTest::newRow("a new row with a short reason") << "pending" << insert.arg("1", "太短", "pending") << true;
        QTest::newRow("a new row with a negative value") << "pending" << insert.arg("-1", "足够长的原因文字说明", "pending") << true;
        QTest::newRow("a new row of an unknown state") << "pending" << insert.arg("1", "足够长的原因文字说明", "done") << true;
    }
    void databaseKeepsSettledRows()
    {
        QFETCH(QString, state);
        QFETCH(QString, statement);
        QFETCH(bool, refused);
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        AdjustmentStore adjustments(*s.store);
        QString said;
        const int id = adjustments.file(filing("c1", "202603", "replace", 4), kAlice, &said, s.db);
        if (state == "approved")
            QVERIFY(adjustments.approve(id, kBob, &said, s.db));
        if (state == "withdrawn")
            QVERIFY(adjustments.withdraw(id, "不再需要", kBob, &said, s.db));
        const QString before = s.list("select * from DoseAdjustment");
        if (refused)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("."));
        QCOMPARE(s.exec(statement), !refused);
        if (refused)
            QCOMPARE(s.list("select * from DoseAdjustment"), before);
        else
            QVERIFY(s.list("select * from DoseAdjustment") != before);
    }

    void cardFollowsAndPersonStays()
    {
        ScratchDatabase s;
        const int id = s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}});
        AdjustmentStore adjustments(*s.store);
        QString said;
        const int a = adjustments.file(filing("c1", "202603", "replace", 4), kAlice, &said, s.db);
        QVERIFY(adjustments.approve(a, kBob, &said, s.db));
        adjustments.file(filing("c1", "202602", "notional", 9), kAlice, &said, s.db);
        // The corrected card takes the adjustments along, approved or not.
        Staffdata person;
        QVERIFY(s.store->selectStaffById(person, id, s.db));
        person.ID_card = "c1x";
        QVERIFY(s.store->updateStaffAndDevice(person, s.db));
        QCOMPARE(s.list("select ID_card, state from DoseAdjustment order by id"), QStringLiteral("c1x approved,c1x pending"));
        QCOMPARE(monthOf(s, "c1x", "202603"), QStringLiteral("4.00/40.00"));
        // Neither way of deleting the person goes through.
        QVERIFY(!s.store->deleteStaffWithHistory(id, s.db));
        QVERIFY(!s.store->deleteById("Staff", id, s.db));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("."));
        QVERIFY(!s.exec("delete from Staff"));
        QCOMPARE(s.count("Staff"), 1);
        QCOMPARE(s.count("Realdata"), 1);
        // A person without adjustments goes as before.
        const int other = s.addPerson("c2", "乙");
        QVERIFY(s.store->deleteStaffWithHistory(other, s.db));
        QCOMPARE(s.count("Staff"), 1);
    }

    void mean12_data()
    {
        QTest::addColumn<QString>("months"); // "yyyyMM:net" each
        QTest::addColumn<QString>("adjusted"); // an approved adjustment of a month before, not counted
        QTest::addColumn<QString>("expected"); // the value, or the start of the refusal
        QTest::newRow("fewer than twelve") << "202601:10 202602:20 202603:0 202604:7" << "" << "10";
        QTest::newRow("the last twelve of fourteen")
            << "202501:1000 202502:1000 202503:1 202504:2 202505:3 202506:4 202507:5 202508:6 202509:7 202510:8 "
               "202511:9 202512:10 202601:11 202602:12"
            << "" << "6.5";
        QTest::newRow("rounded to cents") << "202601:1 202602:1 202603:0.01" << "" << "0.67";
        QTest::newRow("months after it left out") << "202601:10 202605:1000" << "" << "10";
        QTest::newRow("adjustments not counted") << "202601:10 202602:20" << "202602" << "15";
        QTest::newRow("nothing monitored") << "" << "" << "c1 在 202604 之前没有监测月份";
        QTest::newRow("only later months") << "202605:3" << "" << "c1 在 202604 之前没有监测月份";
    }
    void mean12()
    {
        QFETCH(QString, months);
        QFETCH(QString, adjusted);
        QFETCH(QString, expected);
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        QList<QPair<QString, double>> list;
        for (const QString& m : months.split(' ', Qt::SkipEmptyParts))
            list.append({m.section(':', 0, 0), m.section(':', 1).toDouble()});
        s.addMonths(1, list);
        if (!adjusted.isEmpty()) {
            QVERIFY(s.exec("update DosePolicy set value = 0 where name = 'adjustment_needs_approval'"));
            QString said;
            QVERIFY(AdjustmentStore(*s.store).file(filing("c1", adjusted, "replace", 500), kAlice, &said, s.db) > 0);
        }
        notional(s, "mean12", expected);
    }

    void departmentMedian_data()
    {
        QTest::addColumn<QString>("coworkers"); // "card:type:net" each, net "-" without a reading that month
        QTest::addColumn<QString>("expected");
        QTest::newRow("odd") << "d1:0:5 d2:0:1 d3:0:9" << "5";
        QTest::newRow("even takes the mean of the middle two") << "d1:0:5 d2:0:1 d3:0:9 d4:0:6" << "5.5";
        QTest::newRow("half a cent rounds") << "d1:0:0.01 d2:0:0.02" << "0.02";
        QTest::newRow("others and those without readings left out") << "d1:0:5 d2:1:100 d3:0:- d4:2:0" << "5";
        QTest::newRow("a co-worker's approved adjustment is their dose of record") << "d1:0:5 d2:0:7 d3:0:adj" << "7";
        QTest::newRow("nobody to compare with") << "d1:1:5 d3:0:-" << "放射科 没有其他职业人员在 202604 有读数";
    }
    void departmentMedian()
    {
        QFETCH(QString, coworkers);
        QFETCH(QString, expected);
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202604", 1000}}); // the person's own reading counts for nothing
        s.addPerson("x1", "外", "核医学科");
        s.addDevice(99, "x1");
        s.addMonths(99, {{"202604", 3}});
        int slave = 10;
        for (const QString& c : coworkers.split(' ')) {
            const QStringList p = c.split(':');
            s.addPerson(p[0], p[0], "放射科", p[1].toInt());
            s.addDevice(++slave, p[0]);
            if (p[2] == "adj") {
                s.addMonths(slave, {{"202604", 100}});
                QString said;
                AdjustmentStore adjustments(*s.store);
                const int id = adjustments.file(filing(p[0], "202604", "replace", 8), kAlice, &said, s.db);
                QVERIFY(adjustments.approve(id, kBob, &said, s.db));
            } else if (p[2] != "-") {
                s.addMonths(slave, {{"202604", p[2].toDouble()}});
            } else {
                s.addMonths(slave, {{"202603", 50}});
            }
        }
        notional(s, "dept_median", expected);
    }

    void unreadableIsAnError()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}});
        QVERIFY(s.sabotage("drop", "DoseAdjustment"));
        DoseFigures f;
        QVERIFY(!DoseStatus(*s.store, s.db).figures("c1", Clock::now(), f));
        QCOMPARE(monthOf(s, "c1", "202603"), QStringLiteral("error"));
        QString said;
        QCOMPARE(AdjustmentStore(*s.store).file(filing("c1", "202603", "replace", 4), kAlice, &said, s.db), 0);
        QVERIFY2(said.startsWith("保存失败"), qPrintable(said));
        QList<DoseAdjustmentdata> list;
        QVERIFY(!AdjustmentStore(*s.store).select(list, false, s.db));
    }
};

QTEST_GUILESS_MAIN(TestAdjust)
#include "tst_adjust.moc"
