#include <QtTest>
#include <QtWidgets>

#include "desktop/SynDevdata.h"

class tst_syndialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<SynDevdata> dialog;
    QStringList sent; // "type old new" of each request

    QTableWidget* table() { return dialog->findChild<QTableWidget*>("tableWidget"); }
    QString label() { return dialog->findChild<QLabel*>("label_info")->text(); }
    QPushButton* button(const char* name) { return dialog->findChild<QPushButton*>(name); }
    QString row(int r) { return cell(r, 0) + ' ' + cell(r, 1) + ' ' + cell(r, 2); }
    QString cell(int r, int c) { return table()->item(r, c)->text(); }
    void edit(int r, int c, const QString& text) // as the table's editor does: a double click, then the text
    {
        emit table()->cellDoubleClicked(r, c);
        table()->item(r, c)->setText(text);
    }

private slots:
    void init()
    {
        dialog = std::make_unique<SynDevdata>();
        sent.clear();
        connect(dialog.get(), &SynDevdata::Syndevid_signal, this,
                [this](int type, int oldId, int newId) { sent << QString("%1 %2 %3").arg(type).arg(oldId).arg(newId); });
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }

    void showingSynchronisesAndNamesThePortsThatWouldNotOpen()
    {
        QCOMPARE(sent.last() + label(), QString("0 -1 -1正在同步设备，收集数据中。。。。"));
        QVERIFY(!button("btnresyn")->isEnabled());
        dialog->showMinimized(); // coming back from minimised is no new showing: the count below
        QTest::qWait(50);
        dialog->showNormal();
        QTest::qWait(50);
        for (const QString failure : {"a busy", "b denied", "c busy"})
            dialog->noteOpenFailure(failure.section(' ', 0, 0), failure.section(' ', 1));
        dialog->getsyninfo(0, "", 0, false); // the link's "no port"
        QCOMPARE(label(), QString("没有设备连接到电脑上！\n串口 a, c 无法打开：busy\n串口 b 无法打开：denied"));
        dialog->getsyninfo(0, "/dev/x", 0, false); // a device at address 0 that failed
        QCOMPARE(label(), QString("0 台剂量计同步成功；失败：串口 /dev/x（同步失败）。"));
        dialog->getsyninfo(3, "/dev/x", 7, false); // read, but the store refused it: no row to clear
        QCOMPARE(label() + QString::number(table()->rowCount()),
                 QString("0 台剂量计同步成功；失败：串口 /dev/x（同步失败）、/dev/x（设备 7 存储失败，数据仍在设备中，"
                         "请检查数据库后重新同步）。0"));
        dialog->getsyninfo(0, "/dev/y", -1, false); // nothing ever answered there: no failure
        QCOMPARE(table()->item(0, 0)->text() + table()->item(0, 2)->text(), QString("/dev/y未连接设备"));
        QVERIFY(label().endsWith("；未连接设备：串口 /dev/y。"));
        table()->selectRow(0);
        QTest::mouseClick(button("btnclear"), Qt::LeftButton); // nothing to clear there
        QCOMPARE(sent.size(), 1);

        QTest::mouseClick(button("btnresyn"), Qt::LeftButton); // enabled by the outcomes, or this does nothing
        QCOMPARE(QString::number(sent.size()) + label(), QString("2同步数据!"));
        dialog->noteOpenFailure("b", "denied");
        dialog->getsyninfo(0, "", 0, false); // each synchronisation tells of its own ports
        QCOMPARE(label(), QString("没有设备连接到电脑上！\n串口 b 无法打开：denied"));
        QTest::mouseClick(button("btnQuit"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
    }

    void rowsAreClearedAndReaddressed() // every request sent is checked at the end
    {
        dialog->getsyninfo(0, "pA", 5, true);
        dialog->getsyninfo(0, "pB", 7, true);
        dialog->getsyninfo(0, "pB", 7, true); // a device answering twice has two rows
        QCOMPARE(row(1) + label(), QString("pB 7 同步成功3 台剂量计同步成功。"));
        dialog->showProgress("pB", 3, 200);
        QCOMPARE(label(), QString("串口 pB 正在接收数据 3/200"));
        QTest::mouseClick(button("btnclear"), Qt::LeftButton); // nothing selected: neither this nor Return sends
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Return); // (no default button)
        table()->selectRow(0);
        QTest::mouseClick(button("btnclear"), Qt::LeftButton);
        QCOMPARE(sent.last() + label(), QString("1 5 -1正在清除数据。。。"));
        dialog->getsyninfo(1, "pA", 5, true);
        QCOMPARE(row(0) + label(), QString("pA 5 清除成功串口 pA，设备 5数据清除成功!"));
        dialog->getsyninfo(1, "pA", 5, false);
        QCOMPARE(row(0) + label(), QString("pA 5 清除失败串口 pA，设备 5数据清除失败!"));
        dialog->getsyninfo(1, "pA", 8, true); // no such row
        QCOMPARE(row(0) + label(), QString("pA 5 清除失败串口 pA，设备 5数据清除失败!"));

        edit(0, 1, "65535");
        QCOMPARE(sent.last() + label(), QString("2 5 65535正在修改设备地址。。。"));
        dialog->getsyninfo(2, "pA", 5, true);
        QCOMPARE(row(0) + label(), QString("pA 65535 修改成功串口 pA，设备 5地址成功修改为65535!"));
        QTest::mouseClick(button("btnclear"), Qt::LeftButton); // later requests use the new address
        edit(0, 1, "12");
        dialog->getsyninfo(2, "pA", 65535, false); // refused or no answer: the old address again, and no request
        QCOMPARE(row(0) + label(), QString("pA 65535 修改失败串口 pA，设备 65535地址修改失败!"));

        edit(1, 0, "elsewhere");
        edit(1, 2, "anything");
        for (const char* text : {"7", "007", "abc", "-1", "65536"}) // no other address: nowhere, the cell shows it again
            edit(1, 1, text);
        QCOMPARE(row(1), QString("elsewhere 7 anything"));
        QVERIFY(!dialog->isEditing());
        emit table()->cellDoubleClicked(0, 1); // what the outcomes write while an edit is armed is not the operator's
        dialog->getsyninfo(0, "pC", 3, true);
        dialog->getsyninfo(1, "pA", 5, true);
        QVERIFY(dialog->isEditing());
        dialog->hide();
        dialog->show(); // a new showing starts afresh
        QVERIFY(table()->rowCount() == 0 && dialog->devRows().isEmpty() && !dialog->isEditing());
        QCOMPARE(sent, QStringList({"0 -1 -1", "1 5 -1", "2 5 65535", "1 65535 -1", "2 65535 12", "0 -1 -1"}));
    }
};

QTEST_MAIN(tst_syndialog)
#include "tst_syndialog.moc"
