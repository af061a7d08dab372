#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include "desktop/ExportExcelObject.h"
#include "desktop/SqlSelect.h"
#include "core/export/XlsSqlDriver.h"
#include "support/FreeXlReader.h"
#include "support/ScratchDatabase.h"

const QStringList kHeader{"时间", "姓名", "部门", "设备ID号", "累计剂量值"};

QString hourKey(int n) { return QDate(2015, 1, 1).startOfDay().addSecs(3600 * n).toString("yyyyMMddhh0000"); }

class TestExport : public QObject
{
    Q_OBJECT
    ScratchDatabase ws;
    SqlSelect dialog{nullptr, ws.store.get()};
    QStandardItemModel model;
    QTableView view;
    QList<int> progress;
    QString doomed; // a folder the export loses on the way

    int exportView(const QString& file, const QString& sheet, int fields = 5)
    {
        ExportExcelObject exporter(file, sheet, &view);
        for (int c = 0; c < fields; ++c)
            exporter.addField(c, kHeader[c], c == 4 ? "real" : "char");
        connect(&exporter, &ExportExcelObject::exportedRowCount, [this](int row) {
            progress << row;
            if (row == 20 && !doomed.isEmpty())
                QDir(doomed).removeRecursively();
        });
        return exporter.export2Excel(); // the object takes its connection with it
    }

    QStringList exportDialog(const QString& file)
    {
        SqlSelect::setSaveFileName([&](QWidget* parent) { return parent == &dialog ? file : QString(); });
        QStringList boxes;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + ": " + box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer.start(20);
        dialog.findChild<QPushButton*>("btnExcel")->click();
        return boxes;
    }

private slots:
    void initTestCase()
    {
        XlsSqlDriver::registerAsOdbc();
        ws.addPerson("7", "张三");
        ws.addDevice(7, "7");
        ws.addPerson("8", "李四", "核医学科");
        ws.addDevice(8, "8");
    }

    void objectCodesAndCells()
    {
        for (int r = 0; r < 25; ++r)
            model.appendRow({new QStandardItem(hourKey(r)), new QStandardItem("张三"), new QStandardItem("放射科"),
                             new QStandardItem("7"), new QStandardItem(QString::number(0.5 * (r + 1)))});
        view.setModel(&model);
        QCOMPARE(exportView(ws.path("out.xls"), "mydata0", 0), -1);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^reason \"cannot create the workbook .*out.xls"));
        QCOMPARE(exportView(ws.path("no/dir/out.xls"), "mydata0"), -3);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^reason \"sheet name .*bad/name"));
        QCOMPARE(exportView(ws.path("bad.xls"), "bad/name"), -4);
        QVERIFY(!QFile::exists(ws.path("out.xls")) && !QSqlDatabase::contains(ExportExcelObject::connectionName));
        QCOMPARE(exportView(ws.path("out.xls"), "mydata0"), 25);
        QCOMPARE(progress, (QList<int>{0, 10, 20, 25}));
        const FreeXlReader book(ws.path("out.xls"));
        QCOMPARE(book.rows("mydata0").value(0), kHeader);
        QCOMPARE(book.rows("mydata0").value(25), (QStringList{hourKey(24), "张三", "放射科", "7", "12.5"}));
        // The last rows reach the file as it closes: a workbook that cannot be saved then is no export.
        QVERIFY(QDir().mkpath(doomed = ws.path("gone")));
        QCOMPARE(exportView(doomed + "/out.xls", "mydata0"), -5);
        doomed.clear();
    }

    void dialogWritesSheetsOf50000Rows()
    {
        QVERIFY(exportDialog(ws.path("none.xls")).isEmpty() && !QFile::exists(ws.path("none.xls"))); // no search
        QVERIFY(ws.db.transaction());
        for (int r = 0; r < 50000; ++r)
            ws.addDose("Realdata", 7, hourKey(r), 0.25);
        for (int r = 0; r < 3; ++r)
            ws.addDose("Realdata", 8, hourKey(60000 + r), 0.25 * (r + 1));
        QVERIFY(ws.db.commit());
        dialog.findChild<QPushButton*>("btnSearch")->click();
        dialog.findChild<QComboBox*>("comboxPage")->setCurrentIndex(4); // shown again after the export
        const QString two = ws.path("two.xls");
        QCOMPARE(exportDialog(two), QStringList{"Done: 50003 条数据已经导出到Excel"});
        QCOMPARE(dialog.findChild<QTableView*>("tableView")->model()->index(0, 0).data().toString(), hourKey(40));
        const FreeXlReader book(two);
        QCOMPARE(book.names(), (QStringList{"mydata0", "mydata1"}));
        QCOMPARE(book.rows("mydata0").size(), 50001);
        QCOMPARE(book.rows("mydata0").last(), (QStringList{hourKey(49999), "张三", "放射科", "7", "0.25"}));
        QCOMPARE(book.rows("mydata1").value(3), (QStringList{hourKey(60002), "李四", "核医学科", "8", "0.75"}));
        dialog.findChild<QCheckBox*>("cb_name")->setChecked(true);
        dialog.findChild<QLineEdit*>("le_name")->setText("张三"); // one full sheet: the confirmed name replaced whole
        QCOMPARE(exportDialog(two), QStringList{"Done: 50000 条数据已经导出到Excel"});
        QCOMPARE(FreeXlReader(two).names(), QStringList{"mydata0"});
        QCOMPARE(exportDialog(ws.path("no/dir/x.xls")), QStringList{"导出数据: 未能保存: 文件夹不存在: " + ws.path("no/dir")});
        QCOMPARE(exportDialog(QString()), QStringList()); // the file dialog cancelled
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
