
#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include <qwt_plot_curve.h>

#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "core/DataBase.h"
#include "core/device/SerialPort.h"
#include "desktop/AddDepart.h"
#include "desktop/AddDevice.h"
#include "desktop/AddStaff.h"
#include "sim/SimPty.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "desktop/MainWindow.h"
#include "desktop/My_pieChart.h"
#include "desktop/mydisp_plot.h"

class tst_wholeroad : public QObject, private FormDriver
{
    Q_OBJECT

    QTemporaryDir dir;
    QSqlDatabase check;

    QStringList rows(const QString& sql) // "first-column second-column" of each row
    {
        QStringList out;
        for (QSqlQuery q(sql, check); q.next();)
            out << q.value(0).toString() + ' ' + QString::number(q.value(1).toDouble());
        return out;
    }
    void verifyTables(int id, const QStringList& sent)
    {
        const QString table("select dataTime, probeValue from %1 where slaveId = %2 order by 1");
        const QString sums("select substr(dataTime, 1, %1), sum(probeValue) from Realdata where slaveId = %2 group by 1");
        QCOMPARE(rows(table.arg("Realdata").arg(id)), sent);
        QCOMPARE(rows(table.arg("Monthdata").arg(id)), rows(sums.arg(8).arg(id)));
        QCOMPARE(rows(table.arg("Yeardata").arg(id)), rows(sums.arg(6).arg(id)));
    }
    static ModalScript::Action fill(const QStringList& fields, const char* button = "btnAdd") // "name=text"
    {
        return [=](QWidget* d) {
            for (const QString& f : fields) // a line edit's text or a combo box's item
                enter(child(d, qPrintable(f.section('=', 0, 0))), f.section('=', 1));
            click(d, button);
            return QString();
        };
    }

private slots:
    void operatorWalksTheWholeRoad()
    {
        QVERIFY(QDir::setCurrent(dir.path()));
        Clock::setNow(QDateTime(QDate(2016, 4, 20), QTime(9, 0)));
        SerialPort::setPortLister([] { return QList<PortDescription>(); }); // the machine's own ports stay out
        SimPty first(5), second(9);
        QVERIFY(first.isValid() && second.isValid());
        QStringList firstSent, secondSent;
        double total = 0; // the first device's last-year dose: its readings less 0.23 each
        double quarter = 0; // the same since 1 April
        for (int h = 0; h < 400; ++h) {
            const QDateTime hour = QDateTime(QDate(2016, 3, 30), QTime(6, 0)).addSecs(3600 * h);
            const double dose = 0.25 + (h % 7) * 0.5;
            QVERIFY(first.device().addRecord(hour, dose));
            firstSent << hour.toString("yyyyMMddhh0000 ") + QString::number(dose);
            total += dose - 0.23;
            quarter += hour.date().month() == 4 ? dose - 0.23 : 0;
            if (h % 3 == 0 && second.device().addRecord(hour, 2.0))
                secondSent << hour.toString("yyyyMMddhh0000 2");
        }
        SettingsAdpater settings(dir.filePath("zudovi.ini"), QSettings::IniFormat);
        settings.setComList({Com_Info{0, first.slavePath()}, Com_Info{1, second.slavePath()}});
        settings.writeSettings();
        DataBase database;
        QVERIFY(database.createTables() && database.createConnection("check"));
        check = database.getConnection("check");
        QVERIFY(QSqlQuery(check).exec("update DosePolicy set value = 100 where name = 'investigation_quarter_occupational'")); // low
        MainWindow window(nullptr, &settings, &database);
        window.show();

        ModalScript script;
        script.expect("添加部门信息", fill({"depart=放射科", "depart_name=主任"}));
        script.expect("添加人员信息", fill({"Id_card=110101198001010011", "Name=张伟", "Depart=放射科"}));
        script.expect("添加设备信息", fill({"device=5", "Name=110101198001010011"})).expect("设备信息查询", fill({}, "btnQuit"));
        window.findChild<AddDepart*>()->exec();
        window.findChild<AddStaff*>()->prepareAndShow();
        window.findChild<AddDevice*>()->prepareAndShow();
        window.findChild<QAction*>("actionDevice")->trigger();
        ANSWERED(script);
        auto* tree = window.findChild<QTreeWidget*>("treeWidget");
        QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString("张伟"));

        auto* sync = window.findChild<QDialog*>("SynDevdata");
        auto* table = child<QTableWidget>(sync, "tableWidget");
        const auto row = [table](int address) {
            const QList<QTableWidgetItem*> found = table->findItems(QString::number(address), Qt::MatchExactly);
            return found.isEmpty() ? -1 : found.first()->row();
        };
        const auto reached = [&](int address, const QString& status) { // waits for the row's status column
            const auto shows = [&] { return row(address) >= 0 && table->item(row(address), 2)->text() == status; };
            return QTest::qWaitFor(shows, 15000) ? QString() : QString("%1 not %2; ").arg(address).arg(status);
        };
        QString trouble; // the dialog runs modally, so it is driven from a timer
        QTimer::singleShot(0, this, [&] {
            trouble = reached(5, "同步成功") + reached(9, "同步成功");
            table->selectRow(row(5));
            click(sync, "btnclear");
            trouble += reached(5, "清除成功");
            emit table->cellDoubleClicked(row(9), 1);
            table->item(row(9), 1)->setText("12");
            trouble += reached(12, "修改成功");
            sync->close();
        });
        window.findChild<QAction*>("action_synchro")->trigger();
        QVERIFY2(trouble.isEmpty(), qPrintable(trouble));
        QCOMPARE(first.device().recordCount(), 0);
        QCOMPARE(second.device().address(), 12);
        verifyTables(5, firstSent);
        verifyTables(9, secondSent);
        QCOMPARE(rows("select rowKey || ' ' || detail, 0 from AuditLog where action = 'clear'"),
                 QStringList(QString("5 port: %1; records: %2 0").arg(first.slavePath()).arg(firstSent.size())));
        QCOMPARE(rows("select level || ' ' || periodKey, dose from DoseAlert"), // judged at once
                 QStringList("investigate 2016Q2 " + QString::number(quarter)));

        window.show();
        tree->scrollToItem(tree->topLevelItem(0)->child(0));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(0)->child(0)).center());
        window.findChild<QDateEdit*>("de_mon")->setDate(QDate(2016, 4, 1));
        window.findChild<QRadioButton*>("rb_mon")->setChecked(true);
        const QwtPlotCurve* curve = window.curvePlot()->curve();
        QStringList april;
        for (size_t i = 0; curve && curve->plot() && i < curve->dataSize(); ++i)
            april << QString("201604%1 %2").arg(i + 1, 2, 10, QChar('0')).arg(curve->sample(int(i)).y());
        QCOMPARE(april, rows("select dataTime, probeValue from Monthdata where slaveId = 5 order by 1").filter("201604"));
        QCOMPARE(window.findChild<QLabel*>("lb_value")->text(),
                 QString::number(total, 'g', 6) + "μSv/" + QString::number(20000 - total, 'g', 6) + "μSv");
        QVERIFY(qAbs(window.findChild<My_pieChart*>()->getData().value(1) - total / 20000) < 1e-12);

        QTimer::singleShot(0, this, [&] {
            trouble = reached(5, "同步成功") + reached(12, "同步成功");
            sync->close();
        });
        window.findChild<QAction*>("action_synchro")->trigger();
        QVERIFY2(trouble.isEmpty(), qPrintable(trouble));
        verifyTables(12, secondSent);
        QCOMPARE(rows("select count(*), 0 from Realdata").value(0), QString("%1 0").arg(firstSent.size() + 2 * secondSent.size()));
    }
};

QTEST_MAIN(tst_wholeroad)
#include "tst_wholeroad.moc"
