#include <QPrinter>
#include <QtTest>
#include <QtWidgets>
#include <optional>

#include "core/time/Clock.h"
#include "desktop/SqlSelect.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

const QString kSelect = "select a.dataTime ,b.name,b.department,c.slaveId, a.probeValue from Staff b ,Device c";
const QString kJoin = " a where c.ID_card = b.ID_card and c.slaveId = a.slaveId";
const QString kDefault = ",Realdata" + kJoin; // no time criteria

QStringList keys(int first, int count = 1) // "yyyyMMddhh0000" of count hours from hour first of 1 May 2023
{
    const QString key = QDateTime(QDate(2023, 5, 1), QTime(0, 0)).addSecs(first * 3600).toString("yyyyMMddhh0000");
    return count > 0 ? QStringList{key} + keys(first + 1, count - 1) : QStringList();
}

QStringList printed;

class TestQueryDialog : public QObject
{
    Q_OBJECT
    std::optional<ScratchDatabase> ws;
    std::unique_ptr<SqlSelect> dialog;

    template <typename T = QPushButton> T* w(const char* name) { return dialog->findChild<T*>(name); }
    void addReadings(int slaveId, int first, int count) // valued 0.5, 1, 1.5, ...
    {
        for (int i = 0; i < count; ++i)
            ws->addDose("Realdata", slaveId, keys(first + i)[0], 0.5 * (i + 1));
    }
    QStringList shown(int c = 0, int r = 0, int role = Qt::EditRole) // column c on show from row r on (times as keys)
    {
        const QAbstractItemModel* m = w<QTableView>("tableView")->model();
        return r < m->rowCount() ? QStringList{m->index(r, c).data(role).toString()} + shown(c, r + 1, role) : QStringList();
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
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    void init()
    {
        Clock::setNow(QDateTime(QDate(2023, 5, 2), QTime(17, 10)));
        dialog.reset(); // before the store it uses
        ws.emplace(); // the old one gone first
        dialog = std::make_unique<SqlSelect>(nullptr, ws->store.get());
        ws->addPerson("110101199001010011", "张三", "放射科", 1);
        ws->addDevice(7, "110101199001010011");
        ws->addPerson("110101199001010022", "李四", "放射科", 1);
        ws->addDevice(8, "110101199001010022");
        addReadings(8, 80, 2);
    }

    void timeClauseAndBoundIdCardsAndNames()
    {
        const QString at = kJoin + " and a.dataTime >= \"";
        const QString day = ",Realdata" + at + "%1\"and a.dataTime <= \"20230502170000\"";
        for (const auto& [radio, time, minutes, clause] : QList<std::tuple<QString, bool, int, QString>>{
                 {"", true, 0, kDefault}, {"rb_day", true, 0, day.arg("20230501080000")}, // first: no radio checked
                 {"rb_mon", true, 0, ",Monthdata" + at + "20230501\"and a.dataTime <= \"20230502\""},
                 {"rb_year", true, 0, ",Yeardata" + at + "202305\"and a.dataTime <= \"202305\""},
                 {"rb_day", true, 1960, day.arg("20230502170000")}, {"rb_day", true, 1961, kDefault}, // at, after the end
                 {"rb_year", true, 1961, kDefault}, {"rb_day", false, 0, kDefault}}) {
            setCriteria(radio, time, minutes);
            QCOMPARE(dialog->buildQuery(), kSelect + clause);
        }
        ws->addPerson("110101199001010033", "O\"Neil '李'", "放射科", 1);
        ws->addDevice(9, "110101199001010033");
        QVERIFY(ws->store->deleteById("Staff", 2, ws->db)); // whoever comes after a gap is still listed
        addReadings(7, 0, 4);
        addReadings(9, 100, 3);
        w<QComboBox>("comboBox")->addItem("stale");
        dialog->show();
        QCOMPARE(w<QComboBox>("comboBox")->count(), 2); // neither the stale item nor the deleted card
        QCOMPARE(w<QComboBox>("comboBox")->currentText(), QString("110101199001010011  张三")); // the name beside
        QCOMPARE(w<QComboBox>("comboBox")->currentData().toString(), QString("110101199001010011"));
        for (const char* edit : {"de_start", "de_end"})
            QCOMPARE(w<QDateTimeEdit>(edit)->dateTime(), Clock::now());
        w<QCheckBox>("cb_name")->setChecked(true);
        QCOMPARE(dialog->buildQuery(), kSelect + kDefault); // checked with an empty name: no filter
        w<QLineEdit>("le_name")->setText("O\"Neil '李'");
        w<QCheckBox>("cb_cradid")->setChecked(true);
        w<QComboBox>("comboBox")->setCurrentIndex(1);
        QVariantList values{"kept"};
        QCOMPARE(dialog->buildQuery(&values), kSelect + kDefault + " and b.name = ? and c.ID_card = ?");
        QCOMPARE(values, (QVariantList{"kept", "O\"Neil '李'", "110101199001010033"}));
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
        QCOMPARE(shown(), keys(100, 3));
        w<QCheckBox>("cb_name")->setChecked(false); // a name typed unchecked: no filter
        w<QComboBox>("comboBox")->setCurrentIndex(0);
        QCOMPARE(dialog->buildQuery(), kSelect + kDefault + " and c.ID_card = ?");
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
        QCOMPARE(shown(), keys(0, 4));
        w<QComboBox>("comboBox")->clear(); // an empty list still filters, on the empty text
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
        QCOMPARE(shown(), QStringList());
        QTest::mouseClick(w("btnBack"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
    }

    void unreadableReadingsAreAnError()
    {
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
        QCOMPARE(shown().size(), 2);
        QVERIFY(ws->sabotage("drop", "Realdata"));
        PRESS_ANSWERED(dialog.get(), "btnSearch", "查询", "读取数据失败，无法查询。"); // not an empty result, and nothing to print
        QCOMPARE(shown(), QStringList());
        QVERIFY(!w("btnPrint")->isEnabled());
        QCOMPARE(w<QComboBox>("comboxPage")->count(), 0);
    }

    void pagesOfTenMonthColumnsAndPrinting()
    {
        addReadings(7, 6, 39); // 06:00 of 1 May to 20:00 of 2 May
        addReadings(99, 0, 50); // a device nobody wears gives no results
        setCriteria("rb_day", true);
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton); // 08:00 of 1 May through 17:00 of 2 May: 34 readings
        const QPointer<QAbstractItemModel> first = w<QTableView>("tableView")->model();
        const QPointer<QItemSelectionModel> firstSelection = w<QTableView>("tableView")->selectionModel();
        QCOMPARE(first->parent(), dialog.get());
        const QList<QPair<const char*, int>> steps{{"btnBefore", 0}, {"btnNext", 1}, {"btnNext", 2}, {"btnNext", 3},
            {"btnNext", 3}, {"btnBefore", 2}, {nullptr, 0}, {nullptr, 3}, {"btnSearch", 0}}; // a search: page 1 again
        for (const auto& step : steps) {
            step.first ? QTest::mouseClick(w(step.first), Qt::LeftButton) : w<QComboBox>("comboxPage")->setCurrentIndex(step.second); // or the list
            QCOMPARE(w<QComboBox>("comboxPage")->currentIndex(), step.second);
            QCOMPARE(shown(), keys(8 + 10 * step.second, step.second == 3 ? 4 : 10));
        }
        QVERIFY(first.isNull() && firstSelection.isNull()); // each new model deletes the one before
        QVERIFY(ws->exec("insert into Monthdata (slaveId, dataTime, probeValue) values (7, '20230430', 3.25), "
                         "(7, '20230501', 4.5), (7, '20230503', 1)"));
        setCriteria("rb_mon", true);
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
        QStringList row; // each column's values and header
        for (int c = 0; c < 5; ++c)
            row << shown(c).join(',') + ' ' + w<QTableView>("tableView")->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(row, (QStringList{"20230501 时间", "张三 姓名", "放射科 部门", "7 设备号", "4.5 剂量 (μSv)"}));
        QCOMPARE(shown(0, 0, Qt::DisplayRole), QStringList{"2023-05-01"}); // a date, not a key
        setCriteria("rb_mon", false); // 天/月/年 holds without a time range too
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
        QVERIFY(!shown().isEmpty());
        for (const QString& key : shown())
            QCOMPARE(key.size(), 8);
        setCriteria("rb_day", true);
        QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
        QCOMPARE(shown(0, 0, Qt::DisplayRole).value(0), QString("2023-05-01 08:00"));
        const QString line = "printData[z] 时间:%1;部门:放射科;姓名:张三;设备号:7;剂量值:%2";
        for (const auto& [before, after, pageCount] : QList<std::tuple<int, int, int>>{
                 {0, 0, 1}, {29, 1, 1}, {30, 1, 2}, {61, 0, 3}}) { // readings before and after the search, pages
            init(); // printing streams the last search
            addReadings(7, 0, before);
            w<QCheckBox>("cb_name")->setChecked(true);
            w<QLineEdit>("le_name")->setText("张三");
            QTest::mouseClick(w("btnSearch"), Qt::LeftButton);
            w<QLineEdit>("le_name")->setText("李四"); // criteria edited later do not count
            addReadings(7, before, after); // rows stored since do: the lines come from the database
            SqlSelect::setPrintSetup([&](QPrinter& printer, QWidget* parent) {
                printer.setOutputFileName(ws->path("report.pdf"));
                printer.setPageSize(QPageSize(QPageSize::A4));
                printer.setFullPage(true);
                return parent == dialog.get();
            });
            const QtMessageHandler previous =
                qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& t) { printed << t; });
            QTest::mouseClick(w("btnPrint"), Qt::LeftButton);
            qInstallMessageHandler(previous);
            const QStringList lines = std::exchange(printed, {}).filter("printData[z] "); // and empty for the next
            QFile pdf(ws->path("report.pdf"));
            QCOMPARE(pdf.open(QIODevice::ReadOnly) ? pdf.readAll().count("/Type /Page\n") : -1, pageCount);
            QCOMPARE(lines.size(), before + after);
            for (int i = 0; i < before + after; ++i)
                QCOMPARE(lines[i], line.arg(keys(i)[0]).arg(0.5 * (i < before ? i + 1 : 1)));
        }
    }
};

QTEST_MAIN(TestQueryDialog)
#include "tst_querydialog.moc"
