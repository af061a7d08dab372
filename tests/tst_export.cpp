// The Excel export: the export object's codes and statements, and the query
// dialog's "导出数据" writing workbooks in sheets of 50000 rows, read back
// with FreeXL, an independent reader.

#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTableView>

#include <memory>

#include "query/ExportExcelObject.h"
#include "query/SqlSelect.h"
#include "query/XlsSqlDriver.h"
#include "support/FormDriver.h"
#include "support/FreeXlReader.h"
#include "support/ScratchDatabase.h"

namespace {

const QStringList kHeader = {"时间", "姓名", "部门", "设备ID号", "累计剂量值"};

QString hourKey(int n)
{
    return QDateTime(QDate(2015, 1, 1), QTime(0, 0)).addSecs(qint64(n) * 3600).toString(QStringLiteral("yyyyMMddhh")) +
        QStringLiteral("0000");
}

// Answers every message box that comes up while it lives and keeps what it
// said. A progress dialog is left alone: it is no question.
class BoxWatcher : public QObject
{
public:
    struct Box
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };

    BoxWatcher()
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
                if (progress->isVisible())
                    progressMaximum = progress->maximum();
            }
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.append({box->icon(), box->windowTitle(), box->text()});
                box->done(QMessageBox::Ok);
            }
        });
        timer.start();
    }

    QList<Box> boxes;
    int progressMaximum = -1;

private:
    QTimer timer;
};

} // namespace

class TestExport : public QObject, private FormDriver
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<SqlSelect> dialog;

    void addReadings(int slaveId, int first, int count)
    {
        QVERIFY(ws->db.transaction());
        QSqlQuery q(ws->db);
        QVERIFY(q.prepare(QStringLiteral("insert into Realdata (slaveId, dataTime, probeValue) values (?, ?, ?)")));
        for (int i = 0; i < count; ++i) {
            q.addBindValue(slaveId);
            q.addBindValue(hourKey(first + i));
            q.addBindValue(0.25 * ((first + i) % 40 + 1));
            QVERIFY(q.exec());
        }
        QVERIFY(ws->db.commit());
    }

    void click(const char* button) { FormDriver::click(dialog.get(), button); }

    QStringList shownTimes() const
    {
        QStringList times;
        const QAbstractItemModel* m = child<QTableView>(dialog.get(), "tableView")->model();
        for (int r = 0; m && r < m->rowCount(); ++r)
            times << m->data(m->index(r, 0)).toString();
        return times;
    }

    static QStringList keys(int first, int count)
    {
        QStringList list;
        for (int i = 0; i < count; ++i)
            list << hourKey(first + i);
        return list;
    }

    // Exports the dialog's criteria to file; the boxes it showed.
    QList<BoxWatcher::Box> exportTo(const QString& file, int* progressMaximum = nullptr)
    {
        SqlSelect::setSaveFileName([file](QWidget*) { return file; });
        BoxWatcher watcher;
        click("btnExcel");
        if (progressMaximum)
            *progressMaximum = watcher.progressMaximum;
        return watcher.boxes;
    }

    static void fillView(QStandardItemModel& model, int rows)
    {
        model.setColumnCount(5);
        for (int r = 0; r < rows; ++r) {
            QList<QStandardItem*> line;
            line << new QStandardItem(hourKey(r)) << new QStandardItem(QStringLiteral("张三"))
                 << new QStandardItem(QStringLiteral("放射科")) << new QStandardItem(QStringLiteral("7"));
            auto* value = new QStandardItem;
            value->setData(0.5 * (r + 1), Qt::DisplayRole);
            line << value;
            model.appendRow(line);
        }
    }

    static void addFields(ExportExcelObject& exporter)
    {
        exporter.addField(0, kHeader.at(0), QStringLiteral("char"));
        exporter.addField(1, kHeader.at(1), QStringLiteral("char"));
        exporter.addField(2, kHeader.at(2), QStringLiteral("char"));
        exporter.addField(3, kHeader.at(3), QStringLiteral("char"));
        exporter.addField(4, kHeader.at(4), QStringLiteral("real"));
    }

private slots:
    void init()
    {
        ws = std::make_unique<ScratchDatabase>();
        dialog = std::make_unique<SqlSelect>(nullptr, ws->store.get());
        ws->addPerson(QStringLiteral("110101199001010011"), QStringLiteral("张三"), QStringLiteral("放射科"));
        ws->addDevice(7, QStringLiteral("110101199001010011"));
        ws->addPerson(QStringLiteral("110101199001010022"), QStringLiteral("李四"), QStringLiteral("核医学科"));
        ws->addDevice(8, QStringLiteral("110101199001010022"));
    }

    void cleanup()
    {
        dialog.reset();
        ws.reset();
        SqlSelect::setSaveFileName({});
    }

    // ---- without the workbook driver (these run before it is registered) ----

    void object_noFieldsGivesMinusOne()
    {
        QTableView view;
        ExportExcelObject exporter(ws->path(QStringLiteral("out.xls")), QStringLiteral("mydata0"), &view);
        QCOMPARE(exporter.export2Excel(), -1);
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("excelexport")));
        QVERIFY(!QFile::exists(ws->path(QStringLiteral("out.xls"))));
    }

    void object_withoutQodbcGivesMinusTwo()
    {
        if (QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
            QSKIP("a QODBC driver is present");
        QStandardItemModel model;
        fillView(model, 3);
        QTableView view;
        view.setModel(&model);
        {
            ExportExcelObject exporter(ws->path(QStringLiteral("out.xls")), QStringLiteral("mydata0"), &view);
            addFields(exporter);
            QTest::ignoreMessage(QtWarningMsg, "QSqlDatabase: QODBC driver not loaded");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QSqlDatabase: available drivers")));
            QCOMPARE(exporter.export2Excel(), -2);
        }
        // The object takes its connection with it.
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("excelexport")));
    }

    void dialog_withoutQodbcShowsTheFailureAndTheSamePage()
    {
        if (QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
            QSKIP("a QODBC driver is present");
        addReadings(7, 0, 25);
        click("btnSearch");
        child<QComboBox>(dialog.get(), "comboxPage")->setCurrentIndex(1);
        QCOMPARE(shownTimes(), keys(10, 10));

        const QString file = ws->path(QStringLiteral("out.xls"));
        QTest::ignoreMessage(QtWarningMsg, "QSqlDatabase: QODBC driver not loaded");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^QSqlDatabase: available drivers")));
        const auto boxes = exportTo(file);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().icon, QMessageBox::Critical);
        QCOMPARE(boxes.first().title, QStringLiteral("导出数据"));
        QCOMPARE(boxes.first().text, QStringLiteral("导出失败!"));
        QVERIFY(!QFile::exists(file));
        QCOMPARE(shownTimes(), keys(10, 10));
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("excelexport")));
    }

    void dialog_cancelledFileDialogDoesNothing()
    {
        addReadings(7, 0, 12);
        click("btnSearch");
        const auto before = shownTimes();
        bool asked = false;
        SqlSelect::setSaveFileName([&](QWidget* parent) {
            asked = parent == dialog.get();
            return QString();
        });
        BoxWatcher watcher;
        click("btnExcel");
        QVERIFY(asked);
        QVERIFY(watcher.boxes.isEmpty());
        QCOMPARE(shownTimes(), before);
        QCOMPARE(QDir(ws->dir.path()).entryList({"*.xls"}, QDir::Files), QStringList());
    }

    // ---- with the workbook driver standing in for the ODBC one -----------

    void object_writesTheSheetAsTextAndReportsProgress()
    {
        XlsSqlDriver::registerAsOdbc();
        QCOMPARE(ExportExcelObject::connectionString(QStringLiteral("/tmp/a b.xls")),
                 QStringLiteral("DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;"
                                "CREATE_DB=\"/tmp/a b.xls\";DBQ=/tmp/a b.xls"));

        QStandardItemModel model;
        fillView(model, 25);
        QTableView view;
        view.setModel(&model);
        const QString file = ws->path(QStringLiteral("object.xls"));
        QList<int> progress;
        {
            ExportExcelObject exporter(file, QStringLiteral("mydata0"), &view);
            addFields(exporter);
            connect(&exporter, &ExportExcelObject::exportedRowCount, this, [&](int row) { progress << row; });
            QCOMPARE(exporter.export2Excel(), 25);
            QSqlDatabase::removeDatabase(QStringLiteral("excelexport"));
        }
        QCOMPARE(progress, (QList<int>{0, 10, 20, 25}));

        const FreeXlReader book(file);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.names(), QStringList{"mydata0"});
        const auto rows = book.rows("mydata0");
        QCOMPARE(rows.size(), 26);
        QCOMPARE(rows.first(), kHeader);
        QCOMPARE(rows.at(1), (QStringList{hourKey(0), "张三", "放射科", "7", "0.5"}));
        // The "real" column holds text as well.
        QCOMPARE(rows.at(25), (QStringList{hourKey(24), "张三", "放射科", "7", "12.5"}));
    }

    void dialog_noRowsWritesNoFileAndSaysNothing()
    {
        XlsSqlDriver::registerAsOdbc();
        addReadings(7, 0, 5);
        click("btnSearch");
        child<QCheckBox>(dialog.get(), "cb_name")->setChecked(true);
        child<QLineEdit>(dialog.get(), "le_name")->setText(QStringLiteral("nobody"));
        const QString file = ws->path(QStringLiteral("none.xls"));
        QVERIFY(exportTo(file).isEmpty());
        QVERIFY(!QFile::exists(file));
        QCOMPARE(shownTimes(), keys(0, 5));
    }

    void dialog_sheetsOfFiftyThousandRows()
    {
        XlsSqlDriver::registerAsOdbc();
        addReadings(7, 0, 50001);
        addReadings(8, 60000, 3);
        auto* name = child<QCheckBox>(dialog.get(), "cb_name");
        auto* nameEdit = child<QLineEdit>(dialog.get(), "le_name");
        name->setChecked(true);
        nameEdit->setText(QStringLiteral("张三"));
        click("btnSearch");
        child<QComboBox>(dialog.get(), "comboxPage")->setCurrentIndex(4);
        QCOMPARE(shownTimes(), keys(40, 10));

        // One row more than a sheet holds: two sheets, the box counts them all.
        const QString two = ws->path(QStringLiteral("two.xls"));
        int progressMaximum = -1;
        QElapsedTimer exportTime;
        exportTime.start();
        auto boxes = exportTo(two, &progressMaximum);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().icon, QMessageBox::Information);
        QCOMPARE(boxes.first().title, QStringLiteral("Done"));
        QCOMPARE(boxes.first().text, QStringLiteral("50001 条数据已经导出到Excel"));
        QCOMPARE(shownTimes(), keys(40, 10));
        // An export that runs for a while shows its progress over all rows.
        if (progressMaximum != -1 || exportTime.elapsed() > 2000)
            QCOMPARE(progressMaximum, 50001);
        auto book = std::make_unique<FreeXlReader>(two);
        QVERIFY2(book->error.isEmpty(), qPrintable(book->error));
        QCOMPARE(book->names(), (QStringList{"mydata0", "mydata1"}));
        QCOMPARE(book->rows("mydata0").size(), 50001);
        QCOMPARE(book->rows("mydata0").first(), kHeader);
        QCOMPARE(book->rows("mydata0").at(1), (QStringList{hourKey(0), "张三", "放射科", "7", "0.25"}));
        QCOMPARE(book->rows("mydata0").last().first(), hourKey(49999));
        QCOMPARE(book->rows("mydata1"), (QVector<QStringList>{kHeader, {hourKey(50000), "张三", "放射科", "7", "0.25"}}));

        // Exactly one sheet's worth: the time range leaves out the last hour.
        child<QRadioButton>(dialog.get(), "rb_day")->setChecked(true);
        child<QCheckBox>(dialog.get(), "cb_time")->setChecked(true);
        const QDateTime first = QDateTime(QDate(2015, 1, 1), QTime(0, 0));
        child<QDateTimeEdit>(dialog.get(), "de_start")->setDateTime(first);
        child<QDateTimeEdit>(dialog.get(), "de_end")->setDateTime(first.addSecs(49999 * 3600 + 1800));
        const QString one = ws->path(QStringLiteral("one.xls"));
        boxes = exportTo(one);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().text, QStringLiteral("50000 条数据已经导出到Excel"));
        book = std::make_unique<FreeXlReader>(one);
        QCOMPARE(book->names(), QStringList{"mydata0"});
        QCOMPARE(book->rows("mydata0").size(), 50001);
        QCOMPARE(book->rows("mydata0").last().first(), hourKey(49999));

        // Into the two-sheet workbook again with fewer rows: mydata0 is
        // replaced, mydata1 stays as it was.
        child<QCheckBox>(dialog.get(), "cb_time")->setChecked(false);
        nameEdit->setText(QStringLiteral("李四"));
        boxes = exportTo(two);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().text, QStringLiteral("3 条数据已经导出到Excel"));
        book = std::make_unique<FreeXlReader>(two);
        QCOMPARE(book->names().size(), 2);
        QVERIFY(book->names().contains("mydata0"));
        QVERIFY(book->names().contains("mydata1"));
        QCOMPARE(book->rows("mydata0"),
                 (QVector<QStringList>{kHeader,
                                     {hourKey(60000), "李四", "核医学科", "8", "0.25"},
                                     {hourKey(60001), "李四", "核医学科", "8", "0.5"},
                                     {hourKey(60002), "李四", "核医学科", "8", "0.75"}}));
        QCOMPARE(book->rows("mydata1").size(), 2);
        QCOMPARE(shownTimes(), keys(40, 10));
    }

    void unwritablePathGivesMinusThreeAndTheFailureBox()
    {
        XlsSqlDriver::registerAsOdbc();
        const QString file = ws->path(QStringLiteral("no/such/dir/out.xls"));
        QStandardItemModel model;
        fillView(model, 3);
        QTableView view;
        view.setModel(&model);
        {
            ExportExcelObject exporter(file, QStringLiteral("mydata0"), &view);
            addFields(exporter);
            QCOMPARE(exporter.export2Excel(), -3);
        }
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("excelexport")));

        addReadings(7, 0, 3);
        click("btnSearch");
        const auto boxes = exportTo(file);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first().icon, QMessageBox::Critical);
        QCOMPARE(boxes.first().title, QStringLiteral("导出数据"));
        QCOMPARE(boxes.first().text, QStringLiteral("导出失败!"));
        QVERIFY(!QFile::exists(file));
        QCOMPARE(shownTimes(), keys(0, 3));
    }
};

QTEST_MAIN(TestExport)
#include "tst_export.moc"
