#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include "desktop/SqlSelect.h"
#include "support/FormDriver.h"
#include "support/FreeXlReader.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

QString hourKey(int n) { return QDate(2015, 1, 1).startOfDay().addSecs(3600 * n).toString("yyyyMMddhh0000"); }

class TestExport : public QObject
{
    Q_OBJECT
    ScratchDatabase ws;
    SqlSelect dialog{nullptr, ws.store.get()};

    // Presses 导出数据 with file as the name chosen; the box that follows says said (none when empty), or starts so.
    void exportTo(const QString& file, const QString& said = QString(), bool starting = false)
    {
        SqlSelect::setSaveFileName([&](QWidget* parent) { return parent == &dialog ? file : QString(); });
        ModalScript script;
        if (!said.isEmpty())
            starting ? script.boxStarting("导出数据", said, QMessageBox::Ok, &dialog) : script.box("导出数据", said, QMessageBox::Ok, &dialog);
        FormDriver::click(&dialog, "btnExcel");
        ANSWERED(script);
    }

private slots:
    void initTestCase()
    {
        ws.addPerson("7", "张三");
        ws.addDevice(7, "7");
        ws.addPerson("8", "李四", "核医学科");
        ws.addDevice(8, "8");
        dialog.show();
    }

    void dialogWritesSheetsOf50000Rows()
    {
        exportTo(ws.path("none.xls")); // nothing found: no box, no file
        QVERIFY(!QFile::exists(ws.path("none.xls")));
        QVERIFY(ws.db.transaction());
        for (int r = 0; r < 50000; ++r)
            ws.addDose("Realdata", 7, hourKey(r), 0.25);
        for (int r = 0; r < 3; ++r)
            ws.addDose("Realdata", 8, hourKey(60000 + r), 0.25 * (r + 1));
        QVERIFY(ws.db.commit());
        FormDriver::click(&dialog, "btnSearch");
        FormDriver::child<QComboBox>(&dialog, "comboxPage")->setCurrentIndex(4);
        const QString two = ws.path("two.xls");
        exportTo(two, "50003 条数据已导出到 " + two);
        // The table keeps the page it showed.
        const QAbstractItemModel* shown = FormDriver::child<QTableView>(&dialog, "tableView")->model();
        QCOMPARE(shown->index(0, 0).data(Qt::EditRole).toString(), hourKey(40));
        const FreeXlReader book(two);
        QCOMPARE(book.names(), (QStringList{"mydata0", "mydata1"}));
        QCOMPARE(book.rows("mydata0").size(), 50001);
        QCOMPARE(book.rows("mydata0").first(), (QStringList{"时间", "姓名", "部门", "设备号", "剂量 (μSv)"}));
        QCOMPARE(book.rows("mydata0").last(), (QStringList{hourKey(49999), "张三", "放射科", "7", "0.25"}));
        QCOMPARE(book.rows("mydata1").value(3), (QStringList{hourKey(60002), "李四", "核医学科", "8", "0.75"}));

        FormDriver::child<QCheckBox>(&dialog, "cb_name")->setChecked(true);
        FormDriver::child<QLineEdit>(&dialog, "le_name")->setText("张三"); // one full sheet: the confirmed name replaced whole
        exportTo(two, "50000 条数据已导出到 " + two);
        QCOMPARE(FreeXlReader(two).names(), QStringList{"mydata0"});
        exportTo(ws.path("no/dir/x.xls"), "未能保存: 文件夹不存在：" + ws.path("no/dir"));
        exportTo(QString()); // the file dialog cancelled
    }

    // Readings that fail as they are read, after the first two days, are a failed export, not a shorter one.
    void unreadableReadingsWriteNothing()
    {
        QVERIFY(ws.exec("alter table Realdata rename to Kept"));
        QVERIFY(ws.exec("create view Realdata as select * from Kept where dataTime < '20150103000000' "
                        "or abs(-9223372036854775807 - 1) >= 0"));
        exportTo(ws.path("failed.xls"), "导出失败!\n读取数据失败：", true);
        QVERIFY(!QFile::exists(ws.path("failed.xls")));
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
