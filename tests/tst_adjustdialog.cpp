// The 剂量更正 dialog pressed as the officer does, the policy's check box, and the person panel's note.

#include <QtTest>
#include <QtWidgets>

#include "core/dose/AdjustmentStore.h"
#include "core/dose/DosePolicy.h"
#include "core/report/PersonView.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"
#include "desktop/DoseAdjustments.h"
#include "desktop/DosePolicyDialog.h"
#include "desktop/Infomation.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

namespace {

const QString kReason = QStringLiteral("剂量计遗失, 按规定估算本月剂量");

// The row of month in the months table: its cells joined by "|".
QString monthRow(DoseAdjustments& dialog, const QString& month)
{
    auto* t = FormDriver::child<QTableWidget>(&dialog, "tv_months");
    for (int r = 0; r < t->rowCount(); ++r) {
        if (t->item(r, 0)->text() != month)
            continue;
        QStringList cells;
        for (int c = 0; c < t->columnCount(); ++c)
            cells << t->item(r, c)->text();
        return cells.join('|');
    }
    return QString();
}

int fileAs(ScratchDatabase& s, const QString& actor, const QString& card, const QString& month, double value)
{
    QString why;
    return AdjustmentStore(*s.store).file({card, month, "replace", "stated", value, kReason}, actor, &why, s.db);
}

} // namespace

class TestAdjustDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }
    void init() { Clock::setNow(QDateTime(QDate(2026, 6, 15), QTime(10, 30))); }
    void cleanup() { Clock::reset(); }

    void policyCheckBox()
    {
        ScratchDatabase s;
        DosePolicyDialog dialog(nullptr, s.store.get());
        dialog.show();
        auto* box = FormDriver::child<QCheckBox>(&dialog, "adjustment_needs_approval");
        QVERIFY(box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!box->isChecked());
        QTest::mouseClick(FormDriver::child<QDialogButtonBox>(&dialog, "buttonBox")->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
        QCOMPARE(s.value("select value from DosePolicy where name = 'adjustment_needs_approval'").toDouble(), 0.0);
        QVERIFY(!DosePolicy::load(*s.store, s.db).adjustmentNeedsApproval());
        // The other rows kept their values.
        QCOMPARE(DosePolicy::load(*s.store, s.db).annualLimit(0), 20000.0);
        dialog.show();
        QVERIFY(!box->isChecked());

        // Neither 0 nor 1 counts as the default, and the dialog's check refuses it.
        QVERIFY(s.exec("update DosePolicy set value = 2 where name = 'adjustment_needs_approval'"));
        DosePolicy policy = DosePolicy::load(*s.store, s.db);
        QVERIFY(policy.adjustmentNeedsApproval());
        QVERIFY(policy.problems().isEmpty());
        policy.setValue("adjustment_needs_approval", 0.5);
        QCOMPARE(policy.problems(), QStringList{QStringLiteral("剂量更正需他人批准 只能是 0 或 1")});
    }

    void fileApproveWithdraw()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}, {"202604", 10}});
        s.addPerson("c2", "乙");
        DoseAdjustments dialog(nullptr, s.store.get());
        dialog.choosePerson("c1");
        dialog.show();
        QCOMPARE(monthRow(dialog, "202604"), QStringLiteral("202604|10.00|10.00||"));
        QCOMPARE(monthRow(dialog, "202602"), QStringLiteral("202602|—|—||"));

        // The value of mean12 is shown before anything is saved.
        FormDriver::child<QLineEdit>(&dialog, "le_month")->setText("202604");
        auto* method = FormDriver::child<QComboBox>(&dialog, "cb_method");
        method->setCurrentIndex(method->findData("mean12"));
        QCOMPARE(FormDriver::child<QDoubleSpinBox>(&dialog, "sb_value")->value(), 40.0);
        QVERIFY(!FormDriver::child<QDoubleSpinBox>(&dialog, "sb_value")->isEnabled());
        QCOMPARE(FormDriver::child<QLabel>(&dialog, "lb_computed")->text(),
                 QStringLiteral("按本人近12个监测月均值算得 40.00 μSv, 保存后不再重算"));
        QCOMPARE(s.count("DoseAdjustment"), 0);

        // A short reason is refused with the reason.
        FormDriver::child<QPlainTextEdit>(&dialog, "te_reason")->setPlainText("遗失");
        PRESS_ANSWERED(&dialog, "btnFile", "剂量更正", "请写明原因 (至少 10 个字)");
        QCOMPARE(s.count("DoseAdjustment"), 0);
        FormDriver::child<QPlainTextEdit>(&dialog, "te_reason")->setPlainText(kReason);
        PRESS_ANSWERED(&dialog, "btnFile", "剂量更正", "剂量更正 1 已提交, 等待另一账户批准。");
        QCOMPARE(s.list("select month, kind, method, value_uSv, state, createdBy from DoseAdjustment"),
                 "202604 replace mean12 40 pending " + Transaction::actor());
        QCOMPARE(monthRow(dialog, "202604"), QStringLiteral("202604|10.00|10.00| 待批准|"));

        // One's own is not approved here either.
        auto* pending = FormDriver::child<QTableWidget>(&dialog, "tv_pending");
        QCOMPARE(pending->rowCount(), 1);
        pending->selectRow(0);
        PRESS_ANSWERED(&dialog, "btnApprove", "剂量更正",
                       QStringLiteral("不能批准自己提交的剂量更正 (1 由 %1 提交), 须由另一账户批准").arg(Transaction::actor()));
        QCOMPARE(s.value("select state from DoseAdjustment").toString(), QStringLiteral("pending"));

        // Another account's is approved, and the month shows it with its mark.
        QCOMPARE(fileAs(s, "alice@station1", "c1", "202603", 4), 2);
        dialog.choosePerson("c1");
        QCOMPARE(pending->rowCount(), 2);
        QCOMPARE(pending->item(1, 7)->text(), QStringLiteral("alice@station1"));
        pending->selectRow(1);
        QSignalSpy changed(&dialog, &DoseAdjustments::adjustmentsChanged);
        FormDriver::click(&dialog, "btnApprove");
        QCOMPARE(changed.count(), 1);
        QCOMPARE(s.list("select state, approvedBy from DoseAdjustment where id = 2"), "approved " + Transaction::actor());
        QCOMPARE(monthRow(dialog, "202603"), QStringLiteral("202603|40.00|4.00|更正|给定值: ") + kReason);
        QCOMPARE(pending->rowCount(), 1);

        // Withdrawn with a reason, and not without one.
        pending->selectRow(0);
        PRESS_ANSWERED(&dialog, "btnWithdraw", "剂量更正", "请写明撤回的原因");
        FormDriver::child<QLineEdit>(&dialog, "le_withdrawReason")->setText("读数其实正常");
        FormDriver::click(&dialog, "btnWithdraw");
        QCOMPARE(s.list("select state, withdrawReason from DoseAdjustment where id = 1"), QStringLiteral("withdrawn 读数其实正常"));
        QCOMPARE(pending->rowCount(), 0);
        QCOMPARE(monthRow(dialog, "202604"), QStringLiteral("202604|10.00|10.00||"));
        // Nothing chosen: said so.
        PRESS_ANSWERED(&dialog, "btnApprove", "剂量更正", "请选择一条待批准的更正");
    }

    void approvedWhenFiledAndComputedRefusal()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        QVERIFY(s.exec("update DosePolicy set value = 0 where name = 'adjustment_needs_approval'"));
        DoseAdjustments dialog(nullptr, s.store.get());
        dialog.choosePerson("c1");
        dialog.show();
        FormDriver::child<QLineEdit>(&dialog, "le_month")->setText("202605");
        auto* method = FormDriver::child<QComboBox>(&dialog, "cb_method");
        method->setCurrentIndex(method->findData("mean12"));
        FormDriver::child<QPlainTextEdit>(&dialog, "te_reason")->setPlainText(kReason);
        // No monitored month: the reason shows, and filing says it again.
        QCOMPARE(FormDriver::child<QLabel>(&dialog, "lb_computed")->text(),
                 QStringLiteral("c1 在 202605 之前没有监测月份, 无法计算近12个月均值"));
        PRESS_ANSWERED(&dialog, "btnFile", "剂量更正", "c1 在 202605 之前没有监测月份, 无法计算近12个月均值");
        method->setCurrentIndex(method->findData("stated"));
        auto* kind = FormDriver::child<QComboBox>(&dialog, "cb_kind");
        kind->setCurrentIndex(kind->findData("notional"));
        FormDriver::child<QDoubleSpinBox>(&dialog, "sb_value")->setValue(33.3);
        PRESS_ANSWERED(&dialog, "btnFile", "剂量更正", "剂量更正 1 已登记并批准 (无需他人批准)。");
        QCOMPARE(monthRow(dialog, "202605"), QStringLiteral("202605|—|33.30|估算|给定值: ") + kReason);
    }

    void personWithAdjustmentsIsNotDeleted()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}});
        QVERIFY(fileAs(s, "alice@station1", "c1", "202603", 4) > 0);
        Infomation list(nullptr, nullptr, s.store.get());
        list.show();
        FormDriver::click(&list, "btnSearch");
        FormDriver::clickRow(FormDriver::child<QTableView>(&list, "tableView"), "c1");
        // Refused before the question of the history is asked.
        PRESS_ANSWERED(&list, "btnDel", "删除", "甲 有 1 条剂量更正记录, 不能删除: 剂量更正与原始读数一起终身保存。");
        QCOMPARE(s.count("Staff"), 1);
        QCOMPARE(s.count("Realdata"), 1);
        QCOMPARE(s.count("DoseAdjustment"), 1);
    }

    void personPanelNote()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addMonths(1, {{"202603", 40}, {"202604", 10}});
        PersonView view;
        QVERIFY(view.load(*s.store, s.db, "c1", 0, PersonView::None, QDate(2026, 6, 15), Clock::now()));
        QCOMPARE(view.used, 50.0);
        QVERIFY(view.adjusted.isEmpty() && !view.pending);
        const int id = fileAs(s, "alice@station1", "c1", "202603", 4);
        QVERIFY(view.load(*s.store, s.db, "c1", 0, PersonView::None, QDate(2026, 6, 15), Clock::now()));
        QCOMPARE(view.used, 50.0);
        QVERIFY(view.adjusted.isEmpty() && view.pending);
        QString why;
        QVERIFY(AdjustmentStore(*s.store).approve(id, "bob@station2", &why, s.db));
        QVERIFY(view.load(*s.store, s.db, "c1", 0, PersonView::None, QDate(2026, 6, 15), Clock::now()));
        QCOMPARE(view.used, 14.0);
        QCOMPARE(view.adjusted, QStringList{"202603"});
        QVERIFY(!view.pending);
    }
};

QTEST_MAIN(TestAdjustDialog)
#include "tst_adjustdialog.moc"
