// dosectl adjust (add, list, approve, withdraw) and the adjusted column of dosectl status, with their exit codes.

#include <QtTest>

#include <unistd.h>

#include "core/dose/AdjustmentStore.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"
#include "support/ScratchDatabase.h"

namespace {

const QString kHeader = QStringLiteral(
    "id,ID_card,name,month,kind,method,value_uSv,state,createdBy,createdAt,approvedBy,approvedAt,reason");
const QString kReason = QStringLiteral("剂量计遗失, 按规定估算本月剂量");

// A register of two people of one department with readings of March to May 2026.
void fill(ScratchDatabase& s)
{
    s.addPerson("c1", "甲");
    s.addDevice(1, "c1");
    s.addMonths(1, {{"202603", 40}, {"202604", 10}, {"202605", 20}});
    s.addPerson("c2", "乙");
    s.addDevice(2, "c2");
    s.addMonths(2, {{"202604", 6}});
}

// The status line of c1.
QString statusOf(const QString& card)
{
    QString out;
    if (ctl({"status", "--date", "2026-06-15"}, &out) != 0)
        return QStringLiteral("failed");
    for (const QString& line : out.split('\n')) {
        if (line.startsWith(card + ','))
            return line;
    }
    return QString();
}

} // namespace

class TestAdjustCtl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }
    void init() { Clock::setNow(QDateTime(QDate(2026, 6, 15), QTime(10, 30))); }
    void cleanup() { Clock::reset(); }

    void fileApproveWithdrawList()
    {
        ScratchDatabase s;
        fill(s);
        const QString me = Transaction::actor();
        QString out, err;
        QCOMPARE(statusOf("c1"), QStringLiteral("c1,甲,放射科,职业,30.00,70.00,70.00,70.00,normal,"));

        // Filed by this account: the value of the method is worked out and shown.
        QVERIFY2(ctl({"adjust", "add", "c1", "202604", "--method", "mean12", "--kind", "replace", "--reason", kReason},
                     &out, &err) == 0,
                 qPrintable(err));
        QCOMPARE(out, kHeader + "\n1,c1,甲,202604,replace,mean12,40.00,pending," + me + ",2026-06-15 10:30:00,,,\"" + kReason
                          + "\"\n");
        QCOMPARE(statusOf("c1"), QStringLiteral("c1,甲,放射科,职业,30.00,70.00,70.00,70.00,normal,"));
        // Approving one's own is refused, with the reason.
        QCOMPARE(ctl({"adjust", "approve", "1"}, &out, &err), 1);
        QCOMPARE(err, QStringLiteral("dosectl: 不能批准自己提交的剂量更正 (1 由 %1 提交), 须由另一账户批准\n").arg(me));
        QCOMPARE(s.value("select state from DoseAdjustment where id = 1").toString(), QStringLiteral("pending"));

        // One filed by another account is approved here.
        QString said;
        QCOMPARE(AdjustmentStore(*s.store).file({"c2", "202603", "notional", "stated", 5.5, "剂量计未归还, 按调查结论给定"},
                                                "alice@station1", &said, s.db),
                 2);
        QCOMPARE(ctl({"adjust", "list", "--pending"}, &out, &err), 0);
        QCOMPARE(out.count('\n'), 3);
        QVERIFY2(ctl({"adjust", "approve", "2"}, &out, &err) == 0, qPrintable(err));
        QCOMPARE(statusOf("c2"), QStringLiteral("c2,乙,放射科,职业,6.00,11.50,11.50,11.50,normal,202603"));

        // Withdrawn while pending; an approved one stays.
        QCOMPARE(ctl({"adjust", "withdraw", "2", "--reason", "不需要了"}, &out, &err), 1);
        QVERIFY2(err.contains("只能撤回待批准的"), qPrintable(err));
        QVERIFY2(ctl({"adjust", "withdraw", "1", "--reason", "读数其实正常"}, &out, &err) == 0, qPrintable(err));
        QCOMPARE(ctl({"adjust", "list"}, &out, &err), 0);
        QCOMPARE(out, kHeader + "\n1,c1,甲,202604,replace,mean12,40.00,withdrawn," + me + ",2026-06-15 10:30:00,,,\"" + kReason
                          + "\"\n2,c2,乙,202603,notional,stated,5.50,approved,alice@station1,2026-06-15 10:30:00," + me
                          + ",2026-06-15 10:30:00,\"剂量计未归还, 按调查结论给定\"\n");
        QCOMPARE(ctl({"adjust", "list", "--pending"}, &out, &err), 0);
        QCOMPARE(out, kHeader + "\n");
    }

    void adjustedColumnAcrossTheWindow()
    {
        ScratchDatabase s;
        fill(s);
        QVERIFY(s.exec("update DosePolicy set value = 0 where name = 'adjustment_needs_approval'"));
        QString out, err;
        for (const char* month : {"202605", "202204", "202012", "202603"})
            QVERIFY2(ctl({"adjust", "add", "c1", month, "--value", "1", "--kind", "notional", "--reason", kReason}, &out,
                         &err) == 0,
                     qPrintable(err));
        // 2020 lies before the five years of 2026; the rest in order.
        QCOMPARE(statusOf("c1"), QStringLiteral("c1,甲,放射科,职业,11.00,12.00,12.00,13.00,normal,202204;202603;202605"));
        QCOMPARE(statusOf("c2"), QStringLiteral("c2,乙,放射科,职业,6.00,6.00,6.00,6.00,normal,"));
    }

    // The refusals of the store itself (tst_adjust) reach dosectl as one of them does here: exit code 1, its words.
    void exitCodes_data()
    {
        QTest::addColumn<QString>("args"); // split at spaces; "R" stands for --reason kReason
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said"); // the start of what stderr says after "dosectl: "
        QTest::newRow("no subcommand") << "adjust" << 2 << "adjust 需要";
        QTest::newRow("unknown subcommand") << "adjust delete 1" << 2 << "未知的 adjust 命令";
        QTest::newRow("no month") << "adjust add c1 --value 1 --kind replace R" << 2 << "缺少 ID_CARD 和 yyyyMM";
        QTest::newRow("not a month") << "adjust add c1 2026-04 --value 1 --kind replace R" << 2 << "不是月份";
        QTest::newRow("value and method") << "adjust add c1 202604 --value 1 --method mean12 --kind replace R" << 2
                                          << "请给出 --value uSv 或 --method";
        QTest::newRow("neither") << "adjust add c1 202604 --kind replace R" << 2 << "请给出 --value uSv 或 --method";
        QTest::newRow("unknown method") << "adjust add c1 202604 --method stated --kind replace R" << 2 << "--method is";
        QTest::newRow("no kind") << "adjust add c1 202604 --value 1 R" << 2 << "--kind is";
        QTest::newRow("not a number") << "adjust add c1 202604 --value 1,5 --kind replace R" << 2 << "不是数字";
        QTest::newRow("no reason") << "adjust add c1 202604 --value 1 --kind replace" << 2 << "--reason TEXT is required";
        QTest::newRow("approve without id") << "adjust approve" << 2 << "请给出一个剂量更正编号";
        QTest::newRow("approve x") << "adjust approve x" << 2 << "请给出一个剂量更正编号";
        QTest::newRow("withdraw without reason") << "adjust withdraw 1" << 2 << "--reason TEXT is required";
        QTest::newRow("future month, computed") << "adjust add c1 202607 --method mean12 --kind notional R" << 1
                                                << "不能更正将来的月份 202607";
        QTest::newRow("replace outside the periods") << "adjust add c3 202604 --value 1 --kind replace R" << 1
                                                     << "c3 在 202604 没有佩戴期";
        QTest::newRow("mean12 of nothing") << "adjust add c3 202604 --method mean12 --kind notional R" << 1
                                           << "c3 在 202604 之前没有监测月份";
        QTest::newRow("unknown id") << "adjust approve 99" << 1 << "没有编号为 99 的剂量更正";
        QTest::newRow("withdraw unknown id") << "adjust withdraw 99 --reason x" << 1 << "没有编号为 99 的剂量更正";
    }
    void exitCodes()
    {
        QFETCH(QString, args);
        QFETCH(int, code);
        QFETCH(QString, said);
        ScratchDatabase s;
        fill(s);
        s.addPerson("c3", "丙");
        QStringList list;
        for (const QString& a : args.split(' '))
            list << (a == "R" ? QStringList{"--reason", kReason} : QStringList{a});
        QString out, err;
        QCOMPARE(ctl(list, &out, &err), code);
        QVERIFY2(err.startsWith("dosectl: " + said), qPrintable(err));
        QCOMPARE(s.count("DoseAdjustment"), 0);
    }

    void anotherAccountApproves()
    {
        // Two operating-system accounts on one register file: this one files, "nobody" approves.
        QFETCH_GLOBAL(bool, postgres);
        if (postgres || geteuid() != 0 || QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("needs root, setpriv and a register file");
        ScratchDatabase s;
        fill(s);
        QString out, err;
        QVERIFY2(ctl({"adjust", "add", "c1", "202604", "--value", "12", "--kind", "replace", "--reason", kReason}, &out,
                     &err) == 0,
                 qPrintable(err));
        const QString dosectl = s.path("dosectl");
        QVERIFY(QFile::copy(QT_TESTCASE_BUILDDIR "/dosectl", dosectl));
        const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup
            | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(s.dir.path(), all));
        for (const QString& f : QDir(s.dir.path()).entryList(QDir::Files))
            QVERIFY(QFile::setPermissions(s.path(f), all));
        QProcess p;
        p.setWorkingDirectory(s.dir.path());
        p.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", dosectl, "--db", s.path("database.db"),
                            "adjust", "approve", "1"});
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        QCOMPARE(s.value("select state from DoseAdjustment").toString(), QStringLiteral("approved"));
        QVERIFY(s.value("select approvedBy from DoseAdjustment").toString().startsWith("nobody@"));
        QCOMPARE(s.value("select createdBy from DoseAdjustment").toString(), Transaction::actor());
        // The audit trail names the approver as well.
        QVERIFY(s.value("select actor from AuditLog where tableName = 'DoseAdjustment' and action = 'update'")
                    .toString()
                    .startsWith("nobody@"));
    }
};

QTEST_GUILESS_MAIN(TestAdjustCtl)
#include "tst_adjustctl.moc"
