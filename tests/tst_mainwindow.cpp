// The main window: the department tree, a person's curve and last-year dose against the limit, the menus.

#include <QtTest>
#include <QtWidgets>

#include <qwt_plot_curve.h>

#include "core/dose/AdjustmentStore.h"
#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "core/device/SerialPort.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"
#include "desktop/DoseAdjustments.h"
#include "desktop/DoseAlerts.h"
#include "desktop/MainWindow.h"
#include "desktop/My_pieChart.h"
#include "desktop/mydisp_plot.h"

class tst_mainwindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<SettingsAdpater> settings;
    std::unique_ptr<MainWindow> w;
    int listerCalls = 0;

    template <typename T = QLabel> T* get(const char* name) { return w->findChild<T*>(name); }
    QTreeWidget* tree() { return get<QTreeWidget>("treeWidget"); }
    void clickItem(QTreeWidgetItem* item) // as the officer does: on the row, parents opened
    {
        w->show();
        tree()->scrollToItem(item);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(item).center());
    }
    void click(int department, int person) { clickItem(tree()->topLevelItem(department)->child(person)); }
    QString panel() // the person panel, the last-year dose and the pie's two shares
    {
        const QList<double> s = w->findChild<My_pieChart*>()->getData();
        return QStringList{get("lb_name")->text(), get("lb_gendar")->text(), get("lb_dep")->text(), get("lb_type")->text(),
                           get("lb_value")->text(), QString::number(s[0]), QString::number(s[1])}.join(' ');
    }
    QString curve() // "slots first-value last-value"; empty without a curve
    {
        const QwtPlotCurve* c = w->curvePlot()->curve();
        const auto p = c && c->plot() ? static_cast<const QwtPointSeriesData*>(c->data())->samples() : QVector<QPointF>();
        return p.isEmpty() ? QString() : QString("%1 %2 %3").arg(p.size()).arg(p.first().y()).arg(p.last().y());
    }
    QString view(const char* radio, const char* edit, const QDate& date) // the date first: the toggle shows the view
    {
        get<QDateEdit>(edit)->setDate(date);
        get<QRadioButton>(radio)->setChecked(true);
        return curve();
    }

private slots:
    void init()
    {
        ws = std::make_unique<ScratchDatabase>();
        Clock::setNow(QDateTime(QDate(2016, 6, 15), QTime(12, 30)));
        SerialPort::setPortLister([this] { ++listerCalls; return QList<PortDescription>(); });
        settings = std::make_unique<SettingsAdpater>(ws->path("zudovi.ini"), QSettings::IniFormat);
        QVERIFY(ws->exec("insert into Department(department,dname) values('放射科','A'),('核医学科','B'),('放射科','C')"));
        ws->addPerson("110", "张三", "放射科", 0);
        ws->addPerson("111", "李四", "放射科", 1);
        ws->addPerson("112", "王五", "核医学科", 0, "P3 1 1 255 0 255 0"); // a green pixel
        ws->addPerson("113", "赵六", "核医学科", 0);
        for (int id : {5, 6, 7})
            ws->addDevice(id, id == 7 ? "113" : QString::number(105 + id));
        w = std::make_unique<MainWindow>(nullptr, settings.get(), ws->store.get());
    }
    void cleanup()
    {
        w.reset();
        ws.reset(); // before the next one is made: it closes every connection
    }

    void treeAndPersonDisplay()
    {
        // Nobody is selected yet: empty labels and an empty pie, not the form's sample values.
        QCOMPARE(w->findChild<My_pieChart*>()->getData(), QList<double>());
        QCOMPARE(get("lb_name")->text() + get("lb_dep")->text() + get("lb_value")->text() + get("lb_level")->text(),
                 QString());
        QVERIFY(get("lb_hint")->isHidden() && !tree()->isHidden());
        QVERIFY(get("use_lable")->isHidden() && get("unuse_lable")->isHidden()); // no legend for no pie
        QCOMPARE(get<QDateEdit>("de_day")->date(), QDate(2016, 6, 15));
        clickItem(tree()->topLevelItem(0));
        QCOMPARE(w->selectedPerson().index, -1);
        QVERIFY(get<QMenu>("menuDd")->actions().contains(get<QAction>("actionCom"))); // the menu "系统设置"
        for (const char* action : {"action_stop", "action_run", "action_run", "action_stop", "action_run"})
            get<QAction>(action)->trigger();
        QCOMPARE(listerCalls, 2);
        QVERIFY(!get<QAction>("action_run")->isEnabled());

        // 29 February is a key where the day does not exist.
        const QString insert("insert into %1(slaveId,dataTime,probeValue) values");
        QVERIFY(ws->exec(insert.arg("Yeardata") + "(5,'201505',1000),(5,'201506',10),(5,'201606',10),(5,'201607',1000),"
                                                  "(6,'201603',1500),(7,'201606',0.3)"));
        QVERIFY(ws->exec(insert.arg("Realdata") + "(5,'20150615120000',1),(5,'20150615130000',1),(5,'20160615120000',1),"
                         "(5,'20160615130000',1),(5,'20150614080000',1.5),(5,'20150614230000',2.5),"
                         "(5,'20150614235930',7),(7,'20160601000000',0.1),(7,'20160601010000',0.1)"));
        QVERIFY(ws->exec(insert.arg("Monthdata") + "(5,'20160101',1),(5,'20160131',3),(5,'20150228',2),(5,'20150229',4),"
                         "(5,'20150301',8),(5,'20160228',2),(5,'20160229',4),(5,'20160301',8),(5,'21000228',2),"
                         "(5,'21000229',4),(5,'21000301',8)"));
        QCOMPARE(view("rb_mon", "de_mon", QDate(2016, 1, 1)), QString()); // nobody selected
        click(0, 0);
        QCOMPARE(curve(), QString("31 1 3"));
        // last12: July 2015 through 15 June 2016, 12:00-13:00; of this month only the hours so far count.
        QCOMPARE(panel(), QString("张三 男 放射科 职业 0.77μSv/19999.2μSv 0.999961 3.85e-05"));
        QCOMPARE(view("rb_mon", "de_mon", QDate(2016, 2, 1)), QString("29 0 4"));
        QCOMPARE(view("rb_mon", "de_mon", QDate(2015, 2, 1)), QString("28 0 2"));
        QCOMPARE(view("rb_mon", "de_mon", QDate(2100, 2, 1)), QString("29 0 4"));
        QCOMPARE(view("radioButton", "de_day", QDate(2015, 6, 14)), QString("24 0 2.5")); // 23:59:30 is past the end
        QCOMPARE(view("rb_year", "de_year", QDate(2016, 1, 1)), QString("7 0 1000"));
        click(1, 0);
        QCOMPARE(panel(), QString("王五 男 核医学科 职业 未绑定设备 1 0"));
        QCOMPARE(curve(), QString());
        QCOMPARE(get("lb_photo")->pixmap(Qt::ReturnByValue).toImage().pixelColor(0, 0), QColor(Qt::green));
        click(1, 1);
        QCOMPARE(panel(), QString("赵六 男 核医学科 职业 0μSv/20000μSv 1 0"));
        QVERIFY(get("lb_photo")->pixmap(Qt::ReturnByValue).isNull());
        click(2, 1);
        QCOMPARE(panel(), QString("李四 男 放射科 非职业 1500μSv/-500μSv -0.5 1.5"));
    }

    void levelsFollowThePolicy()
    {
        // 李四 is not occupational: 1500 μSv this year pass the annual limit once it is lowered below them.
        QVERIFY(ws->exec("insert into Yeardata(slaveId,dataTime,probeValue) values(6,'201603',1500)"));
        const auto type = [](QWidget* d, const char* name, const char* text) {
            auto* box = d->findChild<QDoubleSpinBox*>(name);
            box->selectAll();
            QTest::keyClicks(box, text);
        };
        const auto press = [](QWidget* d, QDialogButtonBox::StandardButton which) {
            QTest::mouseClick(d->findChild<QDialogButtonBox*>("buttonBox")->button(which), Qt::LeftButton);
            return QString(d->isVisible() ? "the dialog stayed open" : "");
        };
        ModalScript script;
        script.expect("剂量限值设置", [&](QWidget* d) { // Cancel discards
            type(d, "annual_limit_other", "1400");
            return press(d, QDialogButtonBox::Cancel);
        });
        get<QAction>("action_policy")->trigger();
        ANSWERED(script);
        QCOMPARE(ws->value("select value from DosePolicy where name = 'annual_limit_other'").toDouble(), 1000.0);
        script.expect("剂量限值设置", [&](QWidget* d) {
            if (d->findChild<QDoubleSpinBox*>("annual_limit_other")->value() != 1000)
                return QString("the cancelled value is shown again");
            type(d, "annual_limit_other", "6000");
            if (press(d, QDialogButtonBox::Ok).isEmpty())
                return QString("closed on a refusal");
            type(d, "annual_limit_other", "1400");
            return press(d, QDialogButtonBox::Ok);
        });
        script.expect("剂量限值设置", [](QWidget* box) { // the refusal, in the dialog's words
            const QString text = static_cast<QMessageBox*>(box)->text();
            QTest::mouseClick(static_cast<QMessageBox*>(box)->button(QMessageBox::Ok), Qt::LeftButton);
            return text == "年剂量限值 · 非职业 (6000 μSv) 不能大于 单一年份限值 · 非职业 (5000 μSv)" ? QString() : text;
        });
        get<QAction>("action_policy")->trigger();
        ANSWERED(script);
        QCOMPARE(ws->value("select value from DosePolicy where name = 'annual_limit_other'").toDouble(), 1400.0);
        QVERIFY(tree()->topLevelItem(0)->child(0)->icon(0).isNull());
        QVERIFY(!tree()->topLevelItem(0)->child(1)->icon(0).isNull());
        QCOMPARE(tree()->topLevelItem(0)->child(1)->toolTip(0), QString("预警: 本年 1500μSv > 1400μSv"));
        click(0, 1);
        QCOMPARE(get("lb_level")->text(), QString("状态: 预警"));
        // The new alert opens the alerts, without blocking the window.
        QTRY_VERIFY(w->findChild<QDialog*>("DoseAlerts")->isVisible());
        QCOMPARE(ws->value("select level || ' ' || periodKey from DoseAlert").toString(), QString("warning 2016"));
    }

    void unreadableFiguresShowReadFailure()
    {
        QVERIFY(ws->exec("insert into Yeardata(slaveId,dataTime,probeValue) values(6,'201603',1500)"));
        w->evaluateLevels(); // 李四 passes the annual limit of non-occupational staff
        QVERIFY(!tree()->topLevelItem(0)->child(1)->icon(0).isNull());
        QVERIFY(ws->exec("alter table Wearing rename column ID_card to card"));
        click(0, 0);
        QCOMPARE(get("lb_value")->text() + ' ' + get("lb_level")->text(), QString("读取失败 状态: 读取失败"));
        QCOMPARE(w->findChild<My_pieChart*>()->getData(), QList<double>());
        QVERIFY(get("use_lable")->isHidden());
        const int alerts = ws->count("DoseAlert");
        w->evaluateLevels(); // fails: the markers stay, nothing is raised, and no level is shown as known
        QVERIFY(!tree()->topLevelItem(0)->child(1)->icon(0).isNull());
        QCOMPARE(ws->count("DoseAlert"), alerts);
        QVERIFY(ws->exec("alter table Wearing rename column card to ID_card"));
        click(1, 0); // readable again, but the levels were not judged since
        QVERIFY(!get("use_lable")->isHidden() && !get("unuse_lable")->isHidden());
        QCOMPARE(get("lb_level")->text(), QString("状态: 读取失败"));
        w->evaluateLevels();
        click(0, 1);
        QCOMPARE(get("lb_level")->text(), QString("状态: 预警"));
    }

    void emptyRegisterShowsWhereToBegin()
    {
        QVERIFY(ws->exec("delete from Department"));
        ModalScript script;
        script.expect("部门信息查询", [](QWidget* d) { return QString(d->close() ? "" : "not closed"); });
        get<QAction>("actionDepart")->trigger();
        ANSWERED(script);
        QVERIFY(!get("lb_hint")->isHidden() && tree()->isHidden());
    }

    void menusOpenTheirDialogs()
    {
        // Each runs modally; a register list rebuilds the tree once it returns.
        for (const QString row : {"actionInfo 人员信息查询", "actionDepart 部门信息查询", "actionDevice 设备信息查询",
                                  "actionDgfd 数据查询", "actionCom 串口设置", "action_synchro 同步信息",
                                  "action_about 关于我们", "action_audit 操作日志", "action_statistics 年度剂量统计"}) {
            ModalScript script;
            script.expect(row.section(' ', 1), [this](QWidget* dialog) {
                ws->exec("insert into Department(department,dname) values('检验科','D')");
                dialog->close();
                return QString();
            });
            get<QAction>(qPrintable(row.section(' ', 0, 0)))->trigger();
            ANSWERED(script);
            QCOMPARE(tree()->topLevelItemCount(), row.endsWith("信息查询") ? ws->count("Department") : 6);
        }
        QVERIFY(get<QMenu>("menu")->actions().contains(get<QAction>("action_statistics"))); // the menu "操作"
    }

    void aboutNamesLicenceVersionAndManual()
    {
        QString shown;
        ModalScript script;
        script.expect("关于我们", [&shown](QWidget* dialog) {
            for (const QLabel* l : dialog->findChildren<QLabel*>())
                shown += l->text() + '\n';
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>("bb_ok")->button(QDialogButtonBox::Ok), Qt::LeftButton);
            return QString(dialog->isVisible() ? "OK did not close it" : "");
        });
        get<QAction>("action_about")->trigger();
        ANSWERED(script);
        for (const char* line : {"GPL-3.0-or-later", "版本：" DOSE_VERSION, "man dosemanager"})
            QVERIFY2(shown.contains(QString::fromUtf8(line)), qPrintable(shown));
        QVERIFY2(!shown.contains("请向") && !shown.contains("电话"), qPrintable(shown)); // no placeholder contacts
    }

    void approvalThatRaisesAnAlertShowsIt()
    {
        // Another account filed a notional May far above the quarter's investigation level.
        AdjustmentStore::Filing f{"111", "201605", "notional", "stated", 9000, "剂量计遗失，按调查结果给定剂量"};
        QString why;
        QVERIFY2(AdjustmentStore(*ws->store).file(f, "alice@station1", &why, ws->db) > 0, qPrintable(why));
        w->show();
        auto* alerts = w->findChild<DoseAlerts*>();
        QVERIFY(!alerts->isVisible());
        bool shown = false;
        ModalScript script;
        script.expect("剂量更正", [&](QWidget* dialog) {
            dialog->findChild<QTableWidget*>("tv_pending")->selectRow(0);
            QTest::mouseClick(dialog->findChild<QPushButton*>("btnApprove"), Qt::LeftButton);
            shown = alerts->isVisible(); // at once, while the dialog is still open
            dialog->close();
            return QString();
        });
        get<QAction>("action_adjust")->trigger();
        ANSWERED(script);
        QCOMPARE(ws->value("select count(*) from DoseAlert where ID_card = '111'").toInt(), 1);
        QVERIFY(shown);
    }
};

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
