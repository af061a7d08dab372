#include <QPrinter>
#include <QtTest>
#include <QtWidgets>

#include "app/Clock.h"
#include "query/SqlSelect.h"
#include "support/ScratchDatabase.h"

const QString kSelect = "select a.dataTime ,b.name,b.department,c.slaveId, a.probeValue from Staff b ,Device c";
const QString kJoin = " a where c.ID_card = b.ID_card and c.slaveId = a.slaveId";
const QString kDefault = kSelect + ",Realdata" + kJoin;

QStringList keys(int first, int count = 1) // "yyyyMMddhh0000" of count hours from hour first of 1 May 2023
{
    QStringList list;
    for (int i = first; i < first + count; ++i)
        list << QDateTime(QDate(2023, 5, 1), QTime(0, 0)).addSecs(i * 3600).toString("yyyyMMddhh") + "0000";
    return list;
}

QStringList printed;

class TestQueryDialog : public QObject
{
    Q_OBJECT
    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<SqlSelect> dialog;

    template <typename T = QPushButton> T* w(const char* name) { return dialog->findChild<T*>(name); }
    void addPerson(const QString& card, const QString& name, int slaveId)
    {
        ws->addPerson(card, name, "放射科", 1);
        ws->addDevice(slaveId, card);
    }
    void addReadings(int slaveId, int first, int count) // valued 0.5, 1, 1.5, ...
    {
        for (int i = 0; i < count; ++i)
            ws->addDose("Realdata", slaveId, keys(first + i)[0], 0.5 * (i + 1));
    }
    QStringList shown(int column = 0)
    {
        QStringList out;
        for (int r = 0; r < w<QTableView>("tableView")->model()->rowCount(); ++r)
            out << w<QTableView>("tableView")->model()->index(r, column).data().toString();
        return out;
    }
    void setCriteria(const QString& radio, bool time, int minutes = 0) // from 1 May 08:30 + minutes to now
    {
        if (!radio.isEmpty())
            w<QRadioButton>(radio.toLatin1())->setChecked(true);
        w<QCheckBox>("cb_time")->setChecked(time);
        w<QDateTimeEdit>("de_start")->setDateTime(QDateTime(QDate(2023, 5, 1), QTime(8, 30)).addSecs(minutes * 60));
        w<QDateTimeEdit>("de_end")->setDateTime(Clock::now());
    }

private slots:
    void initTestCase() { Clock::setNow(QDateTime(QDate(2023, 5, 2), QTime(17, 10))); }
    void init()
    {
        dialog.reset(); // before the store it uses
        ws.reset();
        ws = std::make_unique<ScratchDatabase>();
        dialog = std::make_unique<SqlSelect>(nullptr, ws->store.get());
        addPerson("110101199001010011", "张三", 7);
    }

    void timeClause()
    {
        const QString at = kJoin + " and a.dataTime >= \"";
        const QString day = ",Realdata" + at + "%1\"and a.dataTime <= \"20230502170000\"";
        for (const auto& row : QList<std::tuple<QString, bool, int, QString>>{
                 {"", true, 0, ",Realdata" + kJoin}, // first: no radio button checked yet
                 {"rb_day", true, 0, day.arg("20230501080000")},
                 {"rb_mon", true, 0, ",Monthdata" + at + "20230501\"and a.dataTime <= \"20230502\""},
                 {"rb_year", true, 0, ",Yeardata" + at + "202305\"and a.dataTime <= \"202305\""},
                 {"rb_day", true, 1960, day.arg("20230502170000")}, // start at the end
                 {"rb_day", true, 1961, ",Realdata" + kJoin}, {"rb_year", true, 1961, ",Realdata" + kJoin},
                 {"rb_day", false, 0, ",Realdata" + kJoin}}) {
            setCriteria(std::get<0>(row), std::get<1>(row), std::get<2>(row));
            QVariantList values{"kept"};
            QCOMPARE(dialog->buildQuery(&values), kSelect + std::get<3>(row));
            QCOMPARE(values, QVariantList{"kept"});
        }
    }

    void idCardsAndNamesAreBoundValues()
    {
        addPerson("110101199001010022", "李四", 9);
        addPerson("110101199001010033", "O\"Neil '李'", 8);
        QVERIFY(ws->store->deleteById("Staff", 2, ws->db)); // whoever comes after a gap is still listed
        addReadings(7, 0, 4);
        addReadings(8, 100, 3);
        w<QComboBox>("comboBox")->addItem("stale");
        QVERIFY(!w("btnPrint")->isEnabled());
        dialog->show();
        QCOMPARE(w<QComboBox>("comboBox")->count(), 2);
        QCOMPARE(w<QComboBox>("comboBox")->currentText(), QString("110101199001010011"));
        for (const char* edit : {"de_start", "de_end"})
            QCOMPARE(w<QDateTimeEdit>(edit)->dateTime(), Clock::now());
        for (const bool checked : {true, false}) { // checked with an empty name, or a name typed unchecked: no filter
            w<QCheckBox>("cb_name")->setChecked(checked);
            w<QLineEdit>("le_name")->setText(checked ? "" : "O\"Neil '李'");
            QCOMPARE(dialog->buildQuery(), kDefault);
        }
        w<QCheckBox>("cb_name")->setChecked(true);
        w<QCheckBox>("cb_cradid")->setChecked(true);
        w<QComboBox>("comboBox")->setCurrentIndex(1);
        QVariantList values;
        QCOMPARE(dialog->buildQuery(&values), kDefault + " and b.name = ? and c.ID_card = ?");
        QCOMPARE(values, (QVariantList{"O\"Neil '李'", "110101199001010033"}));
        w("btnSearch")->click();
        QCOMPARE(shown(1).value(2), QString("O\"Neil '李'"));
        QCOMPARE(shown(), keys(100, 3));
        w<QCheckBox>("cb_name")->setChecked(false);
        w<QComboBox>("comboBox")->setCurrentIndex(0);
        w("btnSearch")->click();
        QCOMPARE(shown(), keys(0, 4));
        w<QComboBox>("comboBox")->clear(); // an empty list still filters, on the empty text
        w("btnSearch")->click();
        QCOMPARE(shown(), QStringList());
        w("btnBack")->click();
        QVERIFY(!dialog->isVisible());
    }

    void pagesOfTenOverTheWholeResultAndMonthColumns()
    {
        addReadings(7, 6, 39); // 06:00 of 1 May to 20:00 of 2 May
        addReadings(99, 0, 50); // a device nobody wears gives no results
        setCriteria("rb_day", true);
        w("btnSearch")->click(); // 08:00 of 1 May through 17:00 of 2 May: 34 readings
        auto* pages = w<QComboBox>("comboxPage");
        QCOMPARE(pages->itemText(pages->count() - 1), QString("4")); // four pages, numbered from 1
        const QPointer<QAbstractItemModel> first = w<QTableView>("tableView")->model();
        const QPointer<QItemSelectionModel> firstSelection = w<QTableView>("tableView")->selectionModel();
        QCOMPARE(first->parent(), dialog.get());
        QVERIFY(!first->canFetchMore(QModelIndex())); // one page held, no more
        for (const auto& step : QList<QPair<const char*, int>>{{"btnBefore", 0}, {"btnNext", 1}, {"btnNext", 2},
                                                               {"btnNext", 3}, {"btnNext", 3}, {"btnBefore", 2}, {nullptr, 0}}) {
            step.first ? w(step.first)->click() : pages->setCurrentIndex(step.second); // buttons or the page list
            QCOMPARE(pages->currentIndex(), step.second);
            QCOMPARE(shown(), keys(8 + 10 * step.second, step.second == 3 ? 4 : 10));
        }
        QVERIFY(first.isNull() && firstSelection.isNull()); // each new model deletes the one before
        pages->setCurrentIndex(3);
        w("btnSearch")->click(); // a new search starts at page 1 again
        QCOMPARE(pages->count(), 4);
        QCOMPARE(shown(), keys(8, 10));
        QVERIFY(ws->exec("insert into Monthdata (slaveId, dataTime, probeValue) values (7, '20230430', 3.25), "
                         "(7, '20230501', 4.5), (7, '20230503', 1)"));
        setCriteria("rb_mon", true);
        w("btnSearch")->click();
        QStringList row; // each column's values and header
        for (int c = 0; c < 5; ++c)
            row << shown(c).join(',') + ' ' + w<QTableView>("tableView")->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(row, (QStringList{"20230501 时间", "张三 姓名", "放射科 部门", "7 设备Id号", "4.5 累计剂量值"}));
    }

    void printingStreamsTheLastSearch()
    {
        for (const auto& run : QList<std::tuple<int, int, int>>{{0, 0, 1}, {29, 1, 1}, {30, 1, 2}, {61, 0, 3}}) {
            const int before = std::get<0>(run), after = std::get<1>(run);
            init();
            addPerson("110101199001010022", "李四", 8);
            addReadings(7, 0, before);
            addReadings(8, 80, 2);
            w<QCheckBox>("cb_name")->setChecked(true);
            w<QLineEdit>("le_name")->setText("张三");
            w("btnSearch")->click();
            w<QLineEdit>("le_name")->setText("李四"); // criteria edited later do not count
            addReadings(7, before, after); // rows stored since do: the lines come from the database
            SqlSelect::setPrintSetup([&](QPrinter& printer, QWidget* parent) {
                printer.setOutputFileName(ws->path("report.pdf"));
                printer.setPageSize(QPageSize(QPageSize::A4));
                printer.setFullPage(true);
                return parent == dialog.get();
            });
            printed.clear();
            const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& t) {
                if (t.startsWith("printData[z] "))
                    printed << t.mid(13);
            });
            w("btnPrint")->click();
            qInstallMessageHandler(previous);
            QFile pdf(ws->path("report.pdf"));
            QVERIFY(pdf.open(QIODevice::ReadOnly));
            QCOMPARE(pdf.readAll().count("/Type /Page\n"), std::get<2>(run));
            QStringList expected;
            for (int i = 0; i < before + after; ++i)
                expected << QString("时间:%1;部门:放射科;姓名:张三;设备号:7;剂量值:%2").arg(keys(i)[0]).arg(0.5 * (i < before ? i + 1 : 1));
            QCOMPARE(printed, expected);
            QCOMPARE(shown(), keys(0, qMin(before, 10)));
        }
    }
};

QTEST_MAIN(TestQueryDialog)
#include "tst_querydialog.moc"
