// The data query dialog: the statement its criteria make, paging over the
// result, and the printed report (to a PDF file through the printer seam).

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPageSize>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTableView>

#include <memory>

#include "app/Clock.h"
#include "query/SqlSelect.h"
#include "support/FormDriver.h"
#include "support/ScratchDatabase.h"

namespace {

const QString kSelect = QStringLiteral(
    "select a.dataTime ,b.name,b.department,c.slaveId, a.probeValue from Staff b ,Device c");
const QString kDefault = QStringLiteral(",Realdata a where c.ID_card = b.ID_card and c.slaveId = a.slaveId");

// "yyyyMMddhh0000" of the n-th hour from 1 May 2023 00:00.
QString hourKey(int n)
{
    return QDateTime(QDate(2023, 5, 1), QTime(0, 0)).addSecs(qint64(n) * 3600).toString(QStringLiteral("yyyyMMddhh")) +
        QStringLiteral("0000");
}

// Collects the debug lines while it lives; warnings still reach the test log.
class DebugCapture
{
public:
    DebugCapture() { previous = qInstallMessageHandler(&DebugCapture::handler); }
    ~DebugCapture() { qInstallMessageHandler(previous); }
    QStringList lines() const { return captured; }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type == QtDebugMsg)
            captured << text;
        else if (previous)
            previous(type, context, text);
    }
    static inline QtMessageHandler previous = nullptr;
    static inline QStringList captured;

public:
    static void reset() { captured.clear(); }
};

int pdfPages(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // Page objects, not the page tree ("/Type /Pages").
    const QByteArray pdf = file.readAll();
    const QByteArray tag("/Type /Page");
    int pages = 0;
    for (int at = pdf.indexOf(tag); at >= 0; at = pdf.indexOf(tag, at + 1)) {
        const int next = at + tag.size();
        if (next >= pdf.size() || !QChar::isLetter(uchar(pdf.at(next))))
            ++pages;
    }
    return pages;
}

} // namespace

class TestQueryDialog : public QObject, private FormDriver
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<SqlSelect> dialog;

    void addZhang() { addPerson(QStringLiteral("110101199001010011"), QStringLiteral("张三"), QStringLiteral("放射科"), 7); }

    void addPerson(const QString& card, const QString& name, const QString& department, int slaveId)
    {
        ws->addPerson(card, name, department, 1);
        ws->addDevice(slaveId, card);
    }

    // count readings of one device at consecutive hours from hour `first`,
    // values 0.5, 1, 1.5, ...
    void addReadings(const QString& table, int slaveId, int first, int count)
    {
        QVERIFY(ws->db.transaction());
        QSqlQuery q(ws->db);
        QVERIFY(q.prepare(QStringLiteral("insert into %1 (slaveId, dataTime, probeValue) values (?, ?, ?)").arg(table)));
        for (int i = 0; i < count; ++i) {
            q.addBindValue(slaveId);
            q.addBindValue(hourKey(first + i));
            q.addBindValue(0.5 * (i + 1));
            QVERIFY(q.exec());
        }
        QVERIFY(ws->db.commit());
    }

    void click(const char* button) { FormDriver::click(dialog.get(), button); }

    QAbstractItemModel* shown() const { return child<QTableView>(dialog.get(), "tableView")->model(); }

    // Column 0 (the reading time) of the rows on show.
    QStringList shownTimes() const
    {
        QStringList times;
        const QAbstractItemModel* m = shown();
        for (int r = 0; m && r < m->rowCount(); ++r)
            times << m->data(m->index(r, 0)).toString();
        return times;
    }

    QStringList pageItems() const
    {
        auto* pages = child<QComboBox>(dialog.get(), "comboxPage");
        QStringList items;
        for (int i = 0; i < pages->count(); ++i)
            items << pages->itemText(i);
        return items;
    }

    static QStringList keys(int first, int count)
    {
        QStringList list;
        for (int i = 0; i < count; ++i)
            list << hourKey(first + i);
        return list;
    }

    void setRange(const QDateTime& start, const QDateTime& end)
    {
        child<QDateTimeEdit>(dialog.get(), "de_start")->setDateTime(start);
        child<QDateTimeEdit>(dialog.get(), "de_end")->setDateTime(end);
    }

    // Prints through the seam into a PDF file of A4 pages.
    void printTo(const QString& file)
    {
        SqlSelect::setPrintSetup([file](QPrinter& printer, QWidget*) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setFullPage(true);
            return true;
        });
        click("btnPrint");
    }

private slots:
    void initTestCase() { Clock::setNow(QDateTime(QDate(2023, 5, 2), QTime(17, 10, 0))); }
    void cleanupTestCase() { Clock::reset(); }

    void init()
    {
        ws = std::make_unique<ScratchDatabase>();
        dialog = std::make_unique<SqlSelect>(nullptr, ws->store.get());
    }

    void cleanup()
    {
        dialog.reset();
        ws.reset();
        SqlSelect::setPrintSetup({});
    }

    // ---- form and opening ------------------------------------------------

    void form_printWaitsForASearchAndBackCloses()
    {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("数据查询"));
        QVERIFY(!child<QPushButton>(dialog.get(), "btnPrint")->isEnabled());
        dialog->show();
        click("btnBack");
        QVERIFY(!dialog->isVisible());
    }

    void show_listsEveryIdCardInIdOrderAndSetsTheClock()
    {
        addZhang();
        addPerson(QStringLiteral("110101199001010022"), QStringLiteral("李四"), QStringLiteral("核医学科"), 8);
        addPerson(QStringLiteral("110101199001010033"), QStringLiteral("王五"), QStringLiteral("放射科"), 9);
        // With id 2 gone, the person with id 3 must still be listed.
        QVERIFY(ws->store->deleteById(QStringLiteral("Staff"), 2, ws->db));

        auto* cards = child<QComboBox>(dialog.get(), "comboBox");
        cards->addItem(QStringLiteral("stale"));
        dialog->show();
        QCOMPARE(cards->count(), 2);
        QCOMPARE(cards->itemText(0), QStringLiteral("110101199001010011"));
        QCOMPARE(cards->itemText(1), QStringLiteral("110101199001010033"));
        QCOMPARE(cards->currentIndex(), 0);
        const QDateTime now = Clock::now();
        QCOMPARE(child<QDateTimeEdit>(dialog.get(), "de_start")->dateTime(), now);
        QCOMPARE(child<QDateTimeEdit>(dialog.get(), "de_end")->dateTime(), now);

        // Reopening renews the list and the times.
        dialog->hide();
        addPerson(QStringLiteral("110101199001010044"), QStringLiteral("赵六"), QStringLiteral("放射科"), 10);
        child<QDateTimeEdit>(dialog.get(), "de_start")->setDateTime(now.addDays(-3));
        dialog->show();
        QCOMPARE(cards->count(), 3);
        QCOMPARE(cards->itemText(2), QStringLiteral("110101199001010044"));
        QCOMPARE(child<QDateTimeEdit>(dialog.get(), "de_start")->dateTime(), now);
    }

    // ---- query text ----------------------------------------------------

    void query_timeClausePerRadioButton_data()
    {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QString>("expected");
        const QString cond = QStringLiteral(" a where c.ID_card = b.ID_card and c.slaveId = a.slaveId and a.dataTime >= ");
        QTest::newRow("day") << "rb_day"
                             << kSelect + ",Realdata" + cond + "\"20230501080000\"and a.dataTime <= \"20230502170000\"";
        QTest::newRow("month") << "rb_mon" << kSelect + ",Monthdata" + cond + "\"20230501\"and a.dataTime <= \"20230502\"";
        QTest::newRow("year") << "rb_year" << kSelect + ",Yeardata" + cond + "\"202305\"and a.dataTime <= \"202305\"";
    }

    void query_timeClausePerRadioButton()
    {
        QFETCH(QString, radio);
        QFETCH(QString, expected);
        child<QRadioButton>(dialog.get(), radio.toLatin1().constData())->setChecked(true);
        child<QCheckBox>(dialog.get(), "cb_time")->setChecked(true);
        setRange(QDateTime(QDate(2023, 5, 1), QTime(8, 30)), QDateTime(QDate(2023, 5, 2), QTime(17, 10)));
        QVariantList values;
        QCOMPARE(dialog->buildQuery(&values), expected);
        QVERIFY(values.isEmpty());
    }

    void query_timeFilterFallsBackToTheDefault_data()
    {
        QTest::addColumn<bool>("timeChecked");
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QDateTime>("end");
        const QDateTime a(QDate(2023, 5, 1), QTime(8, 30));
        const QDateTime b(QDate(2023, 5, 2), QTime(17, 10));
        QTest::newRow("time filter off") << false << "rb_day" << a << b;
        QTest::newRow("start after end, day") << true << "rb_day" << b << a;
        QTest::newRow("start a minute after end, year") << true << "rb_year" << a.addSecs(60) << a;
        QTest::newRow("no radio button") << true << "" << a << b;
    }

    void query_timeFilterFallsBackToTheDefault()
    {
        QFETCH(bool, timeChecked);
        QFETCH(QString, radio);
        QFETCH(QDateTime, start);
        QFETCH(QDateTime, end);
        if (!radio.isEmpty())
            child<QRadioButton>(dialog.get(), radio.toLatin1().constData())->setChecked(true);
        child<QCheckBox>(dialog.get(), "cb_time")->setChecked(timeChecked);
        setRange(start, end);
        QVariantList values;
        QCOMPARE(dialog->buildQuery(&values), kSelect + kDefault);
        QVERIFY(values.isEmpty());
    }

    void query_nameAndIdCardFiltersAreBound()
    {
        addZhang();
        addPerson(QStringLiteral("110101199001010022"), QStringLiteral("李四"), QStringLiteral("核医学科"), 8);
        dialog->show();
        auto* name = child<QCheckBox>(dialog.get(), "cb_name");
        auto* card = child<QCheckBox>(dialog.get(), "cb_cradid");
        auto* nameEdit = child<QLineEdit>(dialog.get(), "le_name");
        QVariantList values;

        // Checked with an empty name: nothing added.
        name->setChecked(true);
        QCOMPARE(dialog->buildQuery(&values), kSelect + kDefault);
        QVERIFY(values.isEmpty());

        // Typed but unchecked: nothing added.
        name->setChecked(false);
        nameEdit->setText(QStringLiteral("李四"));
        QCOMPARE(dialog->buildQuery(&values), kSelect + kDefault);

        name->setChecked(true);
        QCOMPARE(dialog->buildQuery(&values), kSelect + kDefault + " and b.name = ?");
        QCOMPARE(values, QVariantList{QStringLiteral("李四")});

        child<QComboBox>(dialog.get(), "comboBox")->setCurrentIndex(1);
        card->setChecked(true);
        values.clear();
        QCOMPARE(dialog->buildQuery(&values), kSelect + kDefault + " and b.name = ? and c.ID_card = ?");
        QCOMPARE(values, (QVariantList{QStringLiteral("李四"), QStringLiteral("110101199001010022")}));

        // An empty ID-card list still filters, on the empty text.
        name->setChecked(false);
        child<QComboBox>(dialog.get(), "comboBox")->clear();
        values.clear();
        QCOMPARE(dialog->buildQuery(&values), kSelect + kDefault + " and c.ID_card = ?");
        QCOMPARE(values, QVariantList{QString()});
    }

    void query_filtersFindTheirPersonOnly()
    {
        addZhang();
        addPerson(QStringLiteral("110101199001010022"), QStringLiteral("O\"Neil '李'"), QStringLiteral("核医学科"), 8);
        addReadings(QStringLiteral("Realdata"), 7, 0, 4);
        addReadings(QStringLiteral("Realdata"), 8, 100, 3);
        dialog->show();

        // Quotes in a name are data, not statement text.
        child<QCheckBox>(dialog.get(), "cb_name")->setChecked(true);
        child<QLineEdit>(dialog.get(), "le_name")->setText(QStringLiteral("O\"Neil '李'"));
        click("btnSearch");
        QCOMPARE(shownTimes(), keys(100, 3));
        QCOMPARE(shown()->data(shown()->index(0, 1)).toString(), QStringLiteral("O\"Neil '李'"));

        child<QCheckBox>(dialog.get(), "cb_name")->setChecked(false);
        child<QCheckBox>(dialog.get(), "cb_cradid")->setChecked(true);
        child<QComboBox>(dialog.get(), "comboBox")->setCurrentIndex(0);
        click("btnSearch");
        QCOMPARE(shownTimes(), keys(0, 4));

        child<QComboBox>(dialog.get(), "comboBox")->clear();
        click("btnSearch");
        QCOMPARE(shownTimes(), QStringList());
    }

    void query_dayBoundsCutAtTheHour()
    {
        addZhang();
        // Hours 06:00 of 1 May to 20:00 of 2 May.
        addReadings(QStringLiteral("Realdata"), 7, 6, 39);
        child<QRadioButton>(dialog.get(), "rb_day")->setChecked(true);
        child<QCheckBox>(dialog.get(), "cb_time")->setChecked(true);
        setRange(QDateTime(QDate(2023, 5, 1), QTime(8, 30)), QDateTime(QDate(2023, 5, 2), QTime(17, 10)));
        click("btnSearch");
        // 08:00 of 1 May through 17:00 of 2 May: 34 readings, four pages.
        QCOMPARE(pageItems(), (QStringList{"1", "2", "3", "4"}));
        QCOMPARE(shownTimes(), keys(8, 10));
        child<QComboBox>(dialog.get(), "comboxPage")->setCurrentIndex(3);
        QCOMPARE(shownTimes(), keys(38, 4));
        QCOMPARE(shownTimes().last(), QStringLiteral("20230502170000"));
    }

    void query_monthTableAndColumns()
    {
        addZhang();
        QSqlQuery q(ws->db);
        QVERIFY(q.exec("insert into Monthdata (slaveId, dataTime, probeValue) values (7, '20230430', 3.25), "
                       "(7, '20230501', 4.5), (7, '20230503', 1)"));
        child<QRadioButton>(dialog.get(), "rb_mon")->setChecked(true);
        child<QCheckBox>(dialog.get(), "cb_time")->setChecked(true);
        setRange(QDateTime(QDate(2023, 5, 1), QTime(8, 30)), QDateTime(QDate(2023, 5, 2), QTime(17, 10)));
        click("btnSearch");
        const QAbstractItemModel* m = shown();
        QCOMPARE(m->rowCount(), 1);
        QStringList row, headers;
        for (int c = 0; c < m->columnCount(); ++c) {
            row << m->data(m->index(0, c)).toString();
            headers << m->headerData(c, Qt::Horizontal).toString();
        }
        QCOMPARE(row, (QStringList{"20230501", "张三", "放射科", "7", "4.5"}));
        QCOMPARE(headers, (QStringList{"时间", "姓名", "部门", "设备Id号", "累计剂量值"}));
        QVERIFY(child<QPushButton>(dialog.get(), "btnPrint")->isEnabled());
    }

    // ---- paging --------------------------------------------------------

    void paging_pageCountsAndContents_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("pages");
        QTest::newRow("0 rows") << 0 << QStringList{"1"};
        QTest::newRow("9 rows") << 9 << QStringList{"1"};
        QTest::newRow("10 rows") << 10 << QStringList{"1", "2"};
        QTest::newRow("11 rows") << 11 << QStringList{"1", "2"};
    }

    void paging_pageCountsAndContents()
    {
        QFETCH(int, rows);
        QFETCH(QStringList, pages);
        addZhang();
        addReadings(QStringLiteral("Realdata"), 7, 0, rows);
        // Readings of a device nobody wears are not results.
        addReadings(QStringLiteral("Realdata"), 99, 0, 5);
        click("btnSearch");
        QCOMPARE(pageItems(), pages);
        QCOMPARE(child<QComboBox>(dialog.get(), "comboxPage")->currentIndex(), 0);
        QCOMPARE(shownTimes(), keys(0, qMin(rows, 10)));
        // Only the page is held, never the whole result.
        QVERIFY(!shown()->canFetchMore(QModelIndex()));
        if (pages.size() > 1) {
            child<QComboBox>(dialog.get(), "comboxPage")->setCurrentIndex(1);
            QCOMPARE(shownTimes(), keys(10, rows - 10));
        }
    }

    void paging_arrowsStopAtTheEnds()
    {
        addZhang();
        addReadings(QStringLiteral("Realdata"), 7, 0, 25);
        click("btnSearch");
        auto* pages = child<QComboBox>(dialog.get(), "comboxPage");
        QCOMPARE(pages->count(), 3);

        click("btnBefore");
        QCOMPARE(pages->currentIndex(), 0);
        QCOMPARE(shownTimes(), keys(0, 10));

        click("btnNext");
        QCOMPARE(pages->currentIndex(), 1);
        QCOMPARE(shownTimes(), keys(10, 10));
        click("btnNext");
        QCOMPARE(pages->currentIndex(), 2);
        QCOMPARE(shownTimes(), keys(20, 5));
        click("btnNext");
        QCOMPARE(pages->currentIndex(), 2);
        QCOMPARE(shownTimes(), keys(20, 5));

        click("btnBefore");
        QCOMPARE(pages->currentIndex(), 1);
        QCOMPARE(shownTimes(), keys(10, 10));
        click("btnBefore");
        QCOMPARE(pages->currentIndex(), 0);
        QCOMPARE(shownTimes(), keys(0, 10));
    }

    void paging_clearingTheSelectorLoadsOffsetZero()
    {
        addZhang();
        addReadings(QStringLiteral("Realdata"), 7, 0, 25);
        click("btnSearch");
        auto* pages = child<QComboBox>(dialog.get(), "comboxPage");
        pages->setCurrentIndex(2);
        QCOMPARE(shownTimes(), keys(20, 5));

        // Connected after the dialog's own handler, so it sees what that loaded.
        QList<QPair<QString, QStringList>> loads;
        connect(pages, &QComboBox::currentTextChanged, this,
                [&](const QString& text) { loads.append({text, shownTimes()}); });
        click("btnSearch");
        QVERIFY(loads.size() >= 2);
        QCOMPARE(loads.first().first, QString());
        QCOMPARE(loads.first().second, keys(0, 10));
        QCOMPARE(loads.last().first, QStringLiteral("1"));
        QCOMPARE(shownTimes(), keys(0, 10));
    }

    void paging_eachModelReplacesAndDeletesThePrevious()
    {
        addZhang();
        addReadings(QStringLiteral("Realdata"), 7, 0, 25);
        click("btnSearch");
        auto* view = child<QTableView>(dialog.get(), "tableView");
        QPointer<QAbstractItemModel> first = view->model();
        QPointer<QItemSelectionModel> firstSelection = view->selectionModel();
        QVERIFY(first);
        click("btnNext");
        QVERIFY(first.isNull());
        QVERIFY(firstSelection.isNull());
        QVERIFY(view->model());
        QCOMPARE(view->model()->rowCount(), 10);
    }

    // ---- printing ------------------------------------------------------

    void print_pagesOfThirtyLines_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("pages");
        QTest::newRow("0 lines") << 0 << 1;
        QTest::newRow("30 lines, no empty page after") << 30 << 1;
        QTest::newRow("31 lines") << 31 << 2;
        QTest::newRow("61 lines") << 61 << 3;
    }

    void print_pagesOfThirtyLines()
    {
        QFETCH(int, rows);
        QFETCH(int, pages);
        // The seam's printer is an A4 page that holds 35 line heights.
        {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setFullPage(true);
            const int line = int(printer.logicalDpiY() * 11.69291338582677) / 35;
            QVERIFY(printer.height() >= 35 * line);
            QVERIFY(printer.height() < 36 * line);
        }
        addZhang();
        addReadings(QStringLiteral("Realdata"), 7, 0, rows);
        click("btnSearch");
        const QString file = ws->path(QStringLiteral("report.pdf"));
        DebugCapture capture;
        DebugCapture::reset();
        printTo(file);
        QCOMPARE(pdfPages(file), pages);
        QCOMPARE(capture.lines().filter(QStringLiteral("printData[z]")).size(), rows);
    }

    void print_linesAreTheLastSearchsRows()
    {
        addZhang();
        addPerson(QStringLiteral("110101199001010022"), QStringLiteral("李四"), QStringLiteral("核医学科"), 8);
        addReadings(QStringLiteral("Realdata"), 7, 0, 12);
        addReadings(QStringLiteral("Realdata"), 8, 50, 2);
        child<QCheckBox>(dialog.get(), "cb_name")->setChecked(true);
        child<QLineEdit>(dialog.get(), "le_name")->setText(QStringLiteral("张三"));
        click("btnSearch");
        // Editing the criteria afterwards does not change what the search found.
        child<QLineEdit>(dialog.get(), "le_name")->setText(QStringLiteral("李四"));

        DebugCapture capture;
        DebugCapture::reset();
        printTo(ws->path(QStringLiteral("report.pdf")));
        QStringList lines;
        for (const QString& line : capture.lines()) {
            if (line.startsWith(QStringLiteral("printData[z] ")))
                lines << line.mid(13);
        }
        QCOMPARE(lines.size(), 12);
        QCOMPARE(lines.first(), QStringLiteral("时间:20230501000000;部门:放射科;姓名:张三;设备号:7;剂量值:0.5"));
        QCOMPARE(lines.at(1), QStringLiteral("时间:20230501010000;部门:放射科;姓名:张三;设备号:7;剂量值:1"));
        QCOMPARE(lines.last(), QStringLiteral("时间:20230501110000;部门:放射科;姓名:张三;设备号:7;剂量值:6"));
        // The table still shows the page it showed.
        QCOMPARE(shownTimes(), keys(0, 10));
    }

    void print_declinedDialogPrintsNothing()
    {
        addZhang();
        addReadings(QStringLiteral("Realdata"), 7, 0, 3);
        click("btnSearch");
        const QString file = ws->path(QStringLiteral("report.pdf"));
        bool asked = false;
        SqlSelect::setPrintSetup([&](QPrinter& printer, QWidget* parent) {
            asked = parent == dialog.get();
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file);
            return false;
        });
        click("btnPrint");
        QVERIFY(asked);
        QVERIFY(!QFile::exists(file));
    }
};

QTEST_MAIN(TestQueryDialog)
#include "tst_querydialog.moc"
