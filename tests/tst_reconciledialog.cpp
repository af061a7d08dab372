// The 剂量比对 dialog and the policy's reconciliation rows pressed through their widgets: the query, flagged rows
// first and marked, a flag closed with its comment, an unreadable table said as an error; the rows saved through OK.

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "core/dose/DosePolicy.h"
#include "core/time/Clock.h"
#include "desktop/DosePolicyDialog.h"
#include "desktop/ReconcileDialog.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/PassiveSeed.h"
#include "support/ScratchDatabase.h"

namespace {

// Each row's ID card, start and 结果, with ! for a row marked bold.
QString shown(QTableWidget* table)
{
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r)
        rows << (table->item(r, 0)->font().bold() ? QStringLiteral("!") : QString()) + table->item(r, 0)->text() + " "
                + table->item(r, 3)->text() + " " + table->item(r, 10)->text();
    return rows.join(", ");
}

void clickCell(QTableWidget* table, int row, int column)
{
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, column)).center());
}

// Types a date into a date edit as the officer does.
void typeDate(QDateEdit* edit, const QString& text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
}

// Types text, Chinese too, one key press a character.
void typeText(QWidget* field, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Replaces a spin box's value by typing.
void typeValue(QDoubleSpinBox* box, const QString& text)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
}

} // namespace

class TestReconcileDialog : public QObject, private FormDriver
{
    Q_OBJECT

private slots:
    void init() { Clock::setNow(QDateTime(QDate(2026, 6, 15), QTime(10, 30))); }
    void cleanup() { Clock::reset(); }

    void policyRows()
    {
        ScratchDatabase s;
        DosePolicyDialog dialog(nullptr, s.store.get());
        dialog.show();
        auto* passive = child<QCheckBox>(&dialog, "dose_of_record_passive");
        auto* percent = child<QDoubleSpinBox>(&dialog, "reconcile_tolerance_percent");
        QVERIFY(!passive->isChecked());
        QCOMPARE(percent->value(), 25.0);
        QCOMPARE(child<QDoubleSpinBox>(&dialog, "reconcile_tolerance_uSv")->value(), 100.0);
        QCOMPARE(child<QDoubleSpinBox>(&dialog, "minimum_reportable_uSv")->value(), 100.0);
        QTest::mouseClick(passive, Qt::LeftButton);
        typeValue(percent, "30");
        typeValue(child<QDoubleSpinBox>(&dialog, "reconcile_tolerance_uSv"), "150");
        typeValue(child<QDoubleSpinBox>(&dialog, "minimum_reportable_uSv"), "50");
        QTest::mouseClick(child<QDialogButtonBox>(&dialog, "buttonBox")->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QCOMPARE(s.list("select name, value from DosePolicy where name in ('dose_of_record_passive', "
                        "'reconcile_tolerance_percent', 'reconcile_tolerance_uSv', 'minimum_reportable_uSv') order by name"),
                 QStringLiteral("dose_of_record_passive 1,minimum_reportable_uSv 50,reconcile_tolerance_percent 30,"
                                "reconcile_tolerance_uSv 150"));
        const DosePolicy policy = DosePolicy::load(*s.store, s.db);
        QVERIFY(policy.passiveOfRecord());
        QCOMPARE(policy.reconcilePercent(), 30.0);
    }

    void queryAndClose()
    {
        ScratchDatabase s;
        QVERIFY(s.exec("insert into Department(department, dname) values('放射科', '主任'), ('核医学科', '主任')"));
        s.addPerson("c1", "甲");
        s.addDevice(1, "c1");
        s.addPerson("c2", "乙", "核医学科");
        s.addDevice(2, "c2");
        addHours(s, 1, {{"2026031012", 400.23}, {"2026041012", 50.23}});
        addHours(s, 2, {{"2026031012", 20.23}});
        QVERIFY(addPassiveResult(s, "c1", "20260301", "20260331", "", 390) > 0);
        const int differs = addPassiveResult(s, "c1", "20260401", "20260430", "", 400);
        QVERIFY(addPassiveResult(s, "c2", "20260301", "20260331", "unused", kNoHp10) > 0);
        QVERIFY(addPassiveResult(s, "c2", "20250101", "20250131", "", 1) > 0); // before the days asked

        ReconcileDialog dialog(nullptr, s.store.get());
        dialog.show();
        auto* table = child<QTableWidget>(&dialog, "tw_results");
        typeDate(child<QDateEdit>(&dialog, "de_from"), "2026-03-01");
        typeDate(child<QDateEdit>(&dialog, "de_to"), "2026-04-30");
        QCOMPARE(child<QDateEdit>(&dialog, "de_from")->date(), QDate(2026, 3, 1));
        QCOMPARE(child<QComboBox>(&dialog, "cb_depart")->itemText(0), QStringLiteral("全部"));
        click(&dialog, "btnQuery");
        QCOMPARE(shown(table), QStringLiteral("!c1 2026-04-01 不一致, !c2 2026-03-01 未使用, c1 2026-03-01 一致"));
        QCOMPARE(table->item(0, 5)->text() + "|" + table->item(0, 7)->text() + "|" + table->item(0, 8)->text() + "|"
                     + table->item(0, 9)->text(),
                 QStringLiteral("400.00|50.00|-350.00|-87.50"));
        QCOMPARE(table->horizontalHeaderItem(7)->text(), QStringLiteral("电子剂量计(μSv)"));
        QCOMPARE(child<QLabel>(&dialog, "lb_summary")->text(), QStringLiteral("共 3 条结果, 其中 2 条有标记"));

        // One department.
        auto* department = child<QComboBox>(&dialog, "cb_depart");
        department->setFocus();
        QTest::keyClick(department, Qt::Key_End); // 核医学科, the last
        click(&dialog, "btnQuery");
        QCOMPARE(shown(table), QStringLiteral("!c2 2026-03-01 未使用"));
        QTest::keyClick(department, Qt::Key_Home);
        click(&dialog, "btnQuery");

        // An agreeing row has no flag to close; a comment is required.
        clickCell(table, 2, 1);
        typeText(child<QLineEdit>(&dialog, "le_comment"), "已核实");
        {
            ModalScript script;
            script.box("剂量比对", "该结果与电子剂量一致, 没有标记可关闭", QMessageBox::Ok, &dialog);
            click(&dialog, "btnCloseFlag");
            ANSWERED(script);
        }
        clickCell(table, 0, 1);
        QTest::keyClick(child<QLineEdit>(&dialog, "le_comment"), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(child<QLineEdit>(&dialog, "le_comment"), Qt::Key_Backspace);
        {
            ModalScript script;
            script.box("剂量比对", "请填写说明!", QMessageBox::Ok, &dialog);
            click(&dialog, "btnCloseFlag");
            ANSWERED(script);
        }
        QCOMPARE(s.value("select count(*) from PassiveResult where closedAt is not null").toInt(), 0);
        typeText(child<QLineEdit>(&dialog, "le_comment"), "电子剂量计四月未佩戴");
        click(&dialog, "btnCloseFlag");
        QCOMPARE(s.value("select closeComment from PassiveResult where id = ?", {differs}).toString(),
                 QStringLiteral("电子剂量计四月未佩戴"));
        QCOMPARE(s.value("select count(*) from AuditLog where tableName = 'PassiveResult' and action = 'update'").toInt(), 1);
        // Still flagged, no longer marked, and said closed.
        QCOMPARE(shown(table), QStringLiteral("c1 2026-04-01 不一致 (已关闭), !c2 2026-03-01 未使用, c1 2026-03-01 一致"));
        QVERIFY(table->item(0, 6)->text().endsWith(QStringLiteral("关闭: 电子剂量计四月未佩戴")));
        QVERIFY(child<QLineEdit>(&dialog, "le_comment")->text().isEmpty());

        // A second closing of the same flag is refused.
        clickCell(table, 0, 1);
        typeText(child<QLineEdit>(&dialog, "le_comment"), "再关闭");
        {
            ModalScript script;
            script.boxStarting("剂量比对", QStringLiteral("无法关闭标记: 个人剂量计结果 %1 的标记已于").arg(differs),
                               QMessageBox::Ok, &dialog);
            click(&dialog, "btnCloseFlag");
            ANSWERED(script);
        }

        // The results unreadable: an error and an empty table, never "all in order".
        QVERIFY(s.sabotage("drop", "PassiveResult"));
        {
            ModalScript script;
            script.box("剂量比对", "无法比对: 无法读取个人剂量计结果", QMessageBox::Ok, &dialog);
            click(&dialog, "btnQuery");
            ANSWERED(script);
        }
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(child<QLabel>(&dialog, "lb_summary")->text(), QStringLiteral("读取失败: 无法读取个人剂量计结果"));
    }
};

QTEST_MAIN(TestReconcileDialog)
#include "tst_reconciledialog.moc"
