// The main window: the department/person tree, the selection, and the dose
// display of one person (period keys, last-year total, limit, pie, panel).

#include <QAction>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

#include <qwt_plot_curve.h>

#include "app/Clock.h"
#include "app/SettingsAdpater.h"
#include "device/SerialPort.h"
#include "ui/MainWindow.h"
#include "ui/My_pieChart.h"
#include "ui/mydisp_plot.h"
#include "support/ScratchDatabase.h"

class tst_mainwindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<SettingsAdpater> settings;
    int listerCalls = 0;

    void exec(const QString& sql, const QVariantList& values = {}) { QVERIFY2(ws->exec(sql, values), qPrintable(sql)); }
    static QTreeWidget* tree(MainWindow& w) { return w.findChild<QTreeWidget*>("treeWidget"); }
    static QString label(MainWindow& w, const char* name) { return w.findChild<QLabel*>(name)->text(); }
    static QList<double> shares(MainWindow& w) { return w.findChild<My_pieChart*>()->getData(); }

    static void click(MainWindow& w, int department, int person)
    {
        QTreeWidgetItem* item = tree(w)->topLevelItem(department)->child(person);
        emit tree(w)->itemClicked(item, 0);
    }

    static QVector<QPointF> points(MainWindow& w)
    {
        QVector<QPointF> list;
        QwtPlotCurve* curve = w.curvePlot()->curve();
        if (!curve || !curve->plot())
            return list;
        for (size_t i = 0; i < curve->dataSize(); ++i)
            list.append(curve->sample(int(i)));
        return list;
    }

    static void setMonthView(MainWindow& w, const QDate& month)
    {
        w.findChild<QDateEdit*>("de_mon")->setDate(month);
        w.findChild<QRadioButton*>("rb_mon")->setChecked(true);
    }

    std::unique_ptr<MainWindow> window()
    {
        return std::make_unique<MainWindow>(nullptr, settings.get(), ws->store.get());
    }

private slots:
    void init()
    {
        ws = std::make_unique<ScratchDatabase>();
        Clock::setNow(QDateTime(QDate(2016, 6, 15), QTime(12, 30)));
        listerCalls = 0;
        SerialPort::setPortLister([this] {
            ++listerCalls;
            return QList<PortDescription>();
        });
        settings = std::make_unique<SettingsAdpater>(ws->path("zudovi.ini"), QSettings::IniFormat);
        exec("insert into Department(department,dname) values(?,?)", {QString::fromUtf8("放射科"), "A"});
        exec("insert into Department(department,dname) values(?,?)", {QString::fromUtf8("核医学科"), "B"});
        ws->addPerson("110", QString::fromUtf8("张三"), QString::fromUtf8("放射科"), 0);
        ws->addPerson("111", QString::fromUtf8("李四"), QString::fromUtf8("放射科"), 1);
        ws->addPerson("112", QString::fromUtf8("王五"), QString::fromUtf8("核医学科"), 0);
        ws->addDevice(5, "110");
        ws->addDevice(6, "111");
    }

    void cleanup()
    {
        settings.reset();
        ws.reset();
        SerialPort::setPortLister({});
        Clock::reset();
    }

    // --- tree and selection ---

    void treeListsDepartmentsAndStaff()
    {
        auto w = window();
        QCOMPARE(tree(*w)->topLevelItemCount(), 2);
        QCOMPARE(tree(*w)->topLevelItem(0)->text(0), QString::fromUtf8("放射科"));
        QCOMPARE(tree(*w)->topLevelItem(0)->childCount(), 2);
        QCOMPARE(tree(*w)->topLevelItem(0)->child(1)->text(0), QString::fromUtf8("李四"));
        QCOMPARE(w->persons().size(), 3);
        QCOMPARE(w->selectedPerson().index, -1);
        // The date edits start at "now".
        QCOMPARE(w->findChild<QDateEdit*>("de_day")->date(), QDate(2016, 6, 15));
    }

    void departmentItemSelectsNothing()
    {
        auto w = window();
        emit tree(*w)->itemClicked(tree(*w)->topLevelItem(0), 0);
        QCOMPARE(w->selectedPerson().index, -1);
        QCOMPARE(label(*w, "lb_value"), QString::fromUtf8("20.5μSv/20000μSv"));
    }

    void sameDepartmentNameTwiceListsTheSameStaff()
    {
        exec("insert into Department(department,dname) values(?,?)", {QString::fromUtf8("放射科"), "C"});
        auto w = window();
        QCOMPARE(tree(*w)->topLevelItemCount(), 3);
        QCOMPARE(tree(*w)->topLevelItem(2)->childCount(), 2);
        click(*w, 2, 1);
        QCOMPARE(w->selectedPerson().ID_card, QString("111"));
        QCOMPARE(label(*w, "lb_name"), QString::fromUtf8("李四"));
        click(*w, 0, 0);
        QCOMPARE(w->selectedPerson().ID_card, QString("110"));
    }

    void viewChangesWithoutSelectionDoNothing()
    {
        ws->addDose("Monthdata", 5, "20160610", 3.0);
        auto w = window();
        setMonthView(*w, QDate(2016, 6, 1));
        w->findChild<QDateEdit*>("de_mon")->setDate(QDate(2016, 5, 1));
        QVERIFY(points(*w).isEmpty());
        QCOMPARE(label(*w, "lb_value"), QString::fromUtf8("20.5μSv/20000μSv"));
    }

    void onlyTheNewlyCheckedViewRefreshes()
    {
        ws->addDose("Monthdata", 5, "20160610", 3.0);
        ws->addDose("Yeardata", 5, "201606", 3.0);
        auto w = window();
        click(*w, 0, 0);
        setMonthView(*w, QDate(2016, 6, 1));
        QCOMPARE(points(*w).size(), 10);
        w->findChild<QDateEdit*>("de_year")->setDate(QDate(2016, 1, 1));
        w->findChild<QRadioButton*>("rb_year")->setChecked(true);
        const QVector<QPointF> year = points(*w);
        QCOMPARE(year.size(), 6);
        QCOMPARE(year.last(), QPointF(5, 3.0));
    }

    void startTwiceOpensPortsOnce()
    {
        auto w = window();
        QAction* run = w->findChild<QAction*>("action_run");
        QAction* stop = w->findChild<QAction*>("action_stop");
        stop->trigger(); // nothing running: nothing happens
        QCOMPARE(listerCalls, 0);
        run->trigger();
        QCOMPARE(listerCalls, 1);
        QVERIFY(!run->isEnabled());
        run->trigger();
        QCOMPARE(listerCalls, 1);
        stop->trigger();
        QVERIFY(run->isEnabled());
        run->trigger();
        QCOMPARE(listerCalls, 2);
    }

    // --- the period of the curve ---

    void februaryLengthFollowsTheFourYearRule_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<bool>("day29Read");
        QTest::newRow("2016") << 2016 << true;
        QTest::newRow("2015") << 2015 << false;
        QTest::newRow("2100") << 2100 << true;
    }

    void februaryLengthFollowsTheFourYearRule()
    {
        QFETCH(int, year);
        QFETCH(bool, day29Read);
        const QString y = QString::number(year);
        ws->addDose("Monthdata", 5, y + "0210", 1.0);
        ws->addDose("Monthdata", 5, y + "0228", 2.0);
        ws->addDose("Monthdata", 5, y + "0229", 4.0);  // a key even where the day does not exist
        ws->addDose("Monthdata", 5, y + "0301", 8.0);
        auto w = window();
        click(*w, 0, 0);
        setMonthView(*w, QDate(year, 2, 1));
        const QVector<QPointF> p = points(*w);
        QCOMPARE(p.size(), day29Read ? 29 : 28);
        QCOMPARE(p.at(27), QPointF(27, 2.0));
        if (day29Read)
            QCOMPARE(p.at(28), QPointF(28, 4.0));
    }

    void januaryReadsTheFirstToTheThirtyFirst()
    {
        ws->addDose("Monthdata", 5, "20151231", 9.0);
        ws->addDose("Monthdata", 5, "20160101", 1.0);
        ws->addDose("Monthdata", 5, "20160131", 3.0);
        ws->addDose("Monthdata", 5, "20160201", 9.0);
        auto w = window();
        click(*w, 0, 0);
        setMonthView(*w, QDate(2016, 1, 1));
        const QVector<QPointF> p = points(*w);
        QCOMPARE(p.size(), 31);
        QCOMPARE(p.first(), QPointF(0, 1.0));
        QCOMPARE(p.last(), QPointF(30, 3.0));
    }

    void dayViewEndsAtTwentyThreeFiftyNine()
    {
        ws->addDose("Realdata", 5, "20160614080000", 1.5);
        ws->addDose("Realdata", 5, "20160614230000", 2.5);
        ws->addDose("Realdata", 5, "20160614235930", 7.0);  // past the day's end bound
        auto w = window();
        click(*w, 0, 0);
        w->findChild<QDateEdit*>("de_day")->setDate(QDate(2016, 6, 14));
        w->findChild<QRadioButton*>("radioButton")->setChecked(true);
        const QVector<QPointF> p = points(*w);
        QCOMPARE(p.size(), 24);
        QCOMPARE(p.at(8), QPointF(8, 1.5));
        QCOMPARE(p.at(23), QPointF(23, 2.5));
    }

    // --- last-year dose, limit, pie and panel ---

    void noDoseShowsZeroAgainstTheLimit_data()
    {
        QTest::addColumn<int>("person");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        QTest::newRow("occupational") << 0 << QString::fromUtf8("0μSv/20000μSv") << QString::fromUtf8("职业");
        QTest::newRow("other") << 1 << QString::fromUtf8("0μSv/1000μSv") << QString::fromUtf8("非职业");
    }

    void noDoseShowsZeroAgainstTheLimit()
    {
        QFETCH(int, person);
        QFETCH(QString, text);
        QFETCH(QString, type);
        auto w = window();
        click(*w, 0, person);
        QCOMPARE(label(*w, "lb_value"), text);
        QCOMPARE(label(*w, "lb_type"), type);
        QCOMPARE(label(*w, "lb_dep"), QString::fromUtf8("放射科"));
        QCOMPARE(label(*w, "lb_gendar"), QString::fromUtf8("男"));
        QCOMPARE(shares(*w), QList<double>({1.0, 0.0}));
    }

    void thirteenMonthsLessBackground()
    {
        // June 2015 through June 2016 count; May 2015 and July 2016 do not.
        ws->addDose("Yeardata", 5, "201505", 1000.0);
        for (int m = 0; m < 13; ++m)
            ws->addDose("Yeardata", 5, QDate(2015, 6, 1).addMonths(m).toString("yyyyMM"), 10.0);
        ws->addDose("Yeardata", 5, "201607", 1000.0);
        // Hourly readings since 12:30 of 15 June 2015 take 0.23 each.
        ws->addDose("Realdata", 5, "20150615120000", 1.0);  // before the window
        ws->addDose("Realdata", 5, "20150615130000", 1.0);
        ws->addDose("Realdata", 5, "20160615120000", 1.0);
        ws->addDose("Realdata", 5, "20160615130000", 1.0);  // after now
        auto w = window();
        click(*w, 0, 0);
        const double total = 130 - 2 * 0.23;
        QCOMPARE(label(*w, "lb_value"), QString::number(total, 'g', 6) + QString::fromUtf8("μSv/")
                                            + QString::number(20000 - total, 'g', 6) + QString::fromUtf8("μSv"));
        const QList<double> s = shares(*w);
        QCOMPARE(s.size(), 2);
        QCOMPARE(s[1], total / 20000);
        QCOMPARE(s[0], 1 - total / 20000);
    }

    void moreBackgroundThanDoseClampsToZero()
    {
        ws->addDose("Yeardata", 5, "201606", 0.3);
        ws->addDose("Realdata", 5, "20160601000000", 0.1);
        ws->addDose("Realdata", 5, "20160601010000", 0.1);
        auto w = window();
        click(*w, 0, 0);
        QCOMPARE(label(*w, "lb_value"), QString::fromUtf8("0μSv/20000μSv"));
        QCOMPARE(shares(*w), QList<double>({1.0, 0.0}));
    }

    void aboveTheLimitGoesNegative()
    {
        ws->addDose("Yeardata", 6, "201603", 1500.0);
        auto w = window();
        click(*w, 0, 1);
        QCOMPARE(label(*w, "lb_value"), QString::fromUtf8("1500μSv/-500μSv"));
        QCOMPARE(shares(*w), QList<double>({-0.5, 1.5}));
    }

    void personWithoutDeviceReplacesThePreviousPerson()
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::green);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        exec("update Staff set photo = ? where ID_card = '112'", {png});
        ws->addDose("Realdata", 5, "20160615080000", 5.0);
        ws->addDose("Yeardata", 5, "201606", 100.0);
        auto w = window();
        w->findChild<QDateEdit*>("de_day")->setDate(QDate(2016, 6, 15));
        w->findChild<QRadioButton*>("radioButton")->setChecked(true);
        click(*w, 0, 0);
        QVERIFY(!points(*w).isEmpty());
        QVERIFY(w->findChild<QLabel*>("lb_photo")->pixmap(Qt::ReturnByValue).isNull());

        click(*w, 1, 0);
        QCOMPARE(w->selectedPerson().ID_card, QString("112"));
        QCOMPARE(label(*w, "lb_name"), QString::fromUtf8("王五"));
        QCOMPARE(label(*w, "lb_dep"), QString::fromUtf8("核医学科"));
        QCOMPARE(label(*w, "lb_value"), QString::fromUtf8("未绑定设备"));
        QVERIFY(points(*w).isEmpty());
        QCOMPARE(shares(*w), QList<double>({1.0, 0.0}));
        const QPixmap photo = w->findChild<QLabel*>("lb_photo")->pixmap(Qt::ReturnByValue);
        QVERIFY(!photo.isNull());
        QCOMPARE(photo.toImage().pixelColor(4, 4), QColor(Qt::green));
    }

    // Each dialog of the menus runs modally; whatever a register dialog changed
    // shows in the tree once it returns.
    void treeIsRebuiltAfterEachRegisterDialog_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("dialogClass");
        QTest::addColumn<bool>("rebuilds");
        QTest::newRow("staff") << "actionInfo" << "Infomation" << true;
        QTest::newRow("departments") << "actionDepart" << "DepartInfo" << true;
        QTest::newRow("devices") << "actionDevice" << "DeviceInfo" << true;
        QTest::newRow("query") << "actionDgfd" << "SqlSelect" << false;
        QTest::newRow("port settings") << "actionCom" << "ComParaSettings" << false;
        QTest::newRow("synchronisation") << "action_synchro" << "SynDevdata" << false;
    }

    void treeIsRebuiltAfterEachRegisterDialog()
    {
        QFETCH(QString, action);
        QFETCH(QString, dialogClass);
        QFETCH(bool, rebuilds);
        auto w = window();
        QString seen;
        QTimer::singleShot(50, this, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            seen = QString::fromLatin1(modal->metaObject()->className());
            exec("insert into Department(department,dname) values(?,?)", {QString::fromUtf8("检验科"), "D"});
            ws->addPerson("113", QString::fromUtf8("赵六"), QString::fromUtf8("检验科"), 0);
            modal->close();
        });
        w->findChild<QAction*>(action)->trigger();
        QCOMPARE(seen, dialogClass);
        if (!rebuilds) {
            QCOMPARE(tree(*w)->topLevelItemCount(), 2);
            return;
        }
        QCOMPARE(tree(*w)->topLevelItemCount(), 3);
        QCOMPARE(tree(*w)->topLevelItem(2)->text(0), QString::fromUtf8("检验科"));
        QCOMPARE(tree(*w)->topLevelItem(2)->child(0)->text(0), QString::fromUtf8("赵六"));
    }

    void closingTheWindowStopsTheProcessingThread()
    {
        auto w = window();
        QThread* thread = w->findChild<QThread*>();
        QVERIFY(thread);
        QVERIFY(thread->isRunning());
        QPointer<QThread> guard(thread);
        w.reset();
        QVERIFY(guard.isNull());
    }
};

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
