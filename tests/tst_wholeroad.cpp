// The whole road, as an operator walks it: register a person and a dosimeter
// through the register dialogs, synchronise two simulated dosimeters on
// pseudo-terminals named in the settings file, see the readings in the
// tables and on the main window, clear one device and re-address the other
// through the synchronisation dialog, and synchronise again.

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

#include <qwt_plot_curve.h>

#include "app/Clock.h"
#include "app/SettingsAdpater.h"
#include "db/DataBase.h"
#include "device/SerialPort.h"
#include "device/SynDevdata.h"
#include "records/AddDepart.h"
#include "records/AddDevice.h"
#include "records/AddStaff.h"
#include "sim/SimPty.h"
#include "support/ModalScript.h"
#include "ui/MainWindow.h"
#include "ui/My_pieChart.h"
#include "ui/mydisp_plot.h"

namespace {

// Runs the event loop until done() holds or the time is up.
bool waitFor(const std::function<bool()>& done, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

struct Reading
{
    QString key;
    double value;
};

// The hourly readings a simulated device holds, as the tables key them.
QList<Reading> readingsOf(const SimDosimeter& device)
{
    QList<Reading> list;
    for (const QByteArray& r : device.records()) {
        const QString hex = QString::fromLatin1(r.toHex());
        const int hundredths = quint8(r[5]) + 256 * quint8(r[6]);
        list.append({QStringLiteral("20") + hex.left(8) + QStringLiteral("0000"), hundredths / 100.0});
    }
    return list;
}

} // namespace

class tst_wholeroad : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QSqlDatabase check;

    double scalar(const QString& sql)
    {
        QSqlQuery q(check);
        if (!q.exec(sql) || !q.next())
            return -1;
        return q.value(0).toDouble();
    }

    // Every stored reading of a device is one the device held, and the day
    // and month totals are exactly the sums of the stored readings.
    void verifyTables(int slaveId, const QList<Reading>& sent)
    {
        QHash<QString, double> expected;
        for (const Reading& r : sent)
            expected.insert(r.key, r.value);
        QSqlQuery q(check);
        QVERIFY(q.exec(QString("select dataTime, probeValue from Realdata where slaveId = %1").arg(slaveId)));
        int rows = 0;
        QHash<QString, double> days;
        QHash<QString, double> months;
        while (q.next()) {
            const QString key = q.value(0).toString();
            QVERIFY2(expected.contains(key), qPrintable(key));
            QCOMPARE(q.value(1).toDouble(), expected.value(key));
            days[key.left(8)] += q.value(1).toDouble();
            months[key.left(6)] += q.value(1).toDouble();
            ++rows;
        }
        QCOMPARE(rows, expected.size());
        for (const auto& [table, sums] : {std::make_pair(QString("Monthdata"), &days),
                                          std::make_pair(QString("Yeardata"), &months)}) {
            QSqlQuery t(check);
            QVERIFY(t.exec(QString("select dataTime, probeValue from %1 where slaveId = %2").arg(table).arg(slaveId)));
            int n = 0;
            while (t.next()) {
                QVERIFY(qAbs(t.value(1).toDouble() - sums->value(t.value(0).toString(), -1e9)) < 1e-6);
                ++n;
            }
            QCOMPARE(n, sums->size());
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(dir.path()));
        Clock::setNow(QDateTime(QDate(2016, 4, 20), QTime(9, 0)));
        // The machine's own serial ports stay out of this.
        SerialPort::setPortLister([] { return QList<PortDescription>(); });
    }

    void cleanupTestCase()
    {
        SerialPort::setPortLister({});
        Clock::reset();
    }

    void operatorWalksTheWholeRoad()
    {
        SimPty first(5);
        SimPty second(9);
        QVERIFY(first.isValid() && second.isValid());
        const QDateTime start(QDate(2016, 3, 30), QTime(6, 0));
        for (int h = 0; h < 400; ++h) {
            first.device().addRecord(start.addSecs(3600 * h), 0.25 + (h % 7) * 0.5);
            if (h % 3 == 0)
                second.device().addRecord(start.addSecs(3600 * h), 2.0);
        }
        // The second device sends slowly and in small pieces.
        second.setChunkSize(50);
        second.setDelay(1);
        const QList<Reading> firstSent = readingsOf(first.device());
        const QList<Reading> secondSent = readingsOf(second.device());
        {
            SettingsAdpater writer(dir.filePath("zudovi.ini"), QSettings::IniFormat);
            Com_Info a;
            a.SerialPort = first.slavePath();
            Com_Info b;
            b.SerialPort = second.slavePath();
            b.type = b.IsShared = 1;
            writer.setComList({a, b});
            writer.writeSettings();
        }

        SettingsAdpater settings(dir.filePath("zudovi.ini"), QSettings::IniFormat);
        DataBase database;
        QVERIFY(database.createTables());
        check = QSqlDatabase::addDatabase("QSQLITE", "wholeroad-check");
        check.setDatabaseName(dir.filePath("database.db"));
        QVERIFY(check.open());
        MainWindow window(nullptr, &settings, &database);
        window.show();

        // --- register a department, a person and the dosimeter ---
        auto* addDepart = window.findChild<AddDepart*>();
        auto* addStaff = window.findChild<AddStaff*>();
        auto* addDevice = window.findChild<AddDevice*>();
        QVERIFY(addDepart && addStaff && addDevice);
        {
            ModalScript script;
            script.expect(QString::fromUtf8("添加部门信息"), [](QWidget* w) {
                w->findChild<QLineEdit*>("depart")->setText(QString::fromUtf8("放射科"));
                w->findChild<QLineEdit*>("depart_name")->setText(QString::fromUtf8("主任"));
                w->findChild<QPushButton*>("btnAdd")->click();
                return QString();
            });
            addDepart->exec();
            script.expect(QString::fromUtf8("添加人员信息"), [](QWidget* w) {
                w->findChild<QLineEdit*>("Id_card")->setText("110101198001010011");
                w->findChild<QLineEdit*>("Name")->setText(QString::fromUtf8("张伟"));
                w->findChild<QComboBox*>("Depart")->setCurrentText(QString::fromUtf8("放射科"));
                w->findChild<QPushButton*>("btnAdd")->click();
                return QString();
            });
            addStaff->prepareAndShow();
            script.expect(QString::fromUtf8("添加设备信息"), [](QWidget* w) {
                w->findChild<QLineEdit*>("device")->setText("5");
                w->findChild<QComboBox*>("Name")->setCurrentText("110101198001010011");
                w->findChild<QPushButton*>("btnAdd")->click();
                return QString();
            });
            addDevice->prepareAndShow();
            // Closing the device list rebuilds the tree.
            script.expect(QString::fromUtf8("设备信息查询"), [](QWidget* w) {
                w->close();
                return QString();
            });
            window.findChild<QAction*>("actionDevice")->trigger();
            ANSWERED(script);
        }
        QCOMPARE(scalar("select slaveId from Device where ID_card = '110101198001010011'"), 5.0);
        auto* tree = window.findChild<QTreeWidget*>("treeWidget");
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString::fromUtf8("张伟"));

        // --- synchronise, clear the first device, re-address the second ---
        auto* sync = window.findChild<SynDevdata*>();
        auto* table = sync->findChild<QTableWidget*>("tableWidget");
        auto* info = sync->findChild<QLabel*>("label_info");
        QString trouble;
        auto rowOf = [table](int address) {
            for (int r = 0; r < table->rowCount(); ++r) {
                if (table->item(r, 1) && table->item(r, 1)->text() == QString::number(address))
                    return r;
            }
            return -1;
        };
        QTimer::singleShot(0, this, [&] {
            if (!waitFor([&] { return table->rowCount() == 2; }))
                trouble += "no two rows; ";
            for (int r = 0; r < table->rowCount(); ++r) {
                if (table->item(r, 2)->text() != QString::fromUtf8("同步成功"))
                    trouble += "row not 同步成功; ";
            }
            const int firstRow = rowOf(5);
            table->selectRow(firstRow);
            sync->findChild<QPushButton*>("btnclear")->click();
            if (!waitFor([&] { return table->item(firstRow, 2)->text() == QString::fromUtf8("清除成功"); }))
                trouble += "clear not confirmed; ";
            const int secondRow = rowOf(9);
            emit table->cellDoubleClicked(secondRow, 1);
            table->item(secondRow, 1)->setText("12");
            if (!waitFor([&] { return table->item(secondRow, 2)->text() == QString::fromUtf8("修改成功"); }))
                trouble += "address change not confirmed: " + info->text() + "; ";
            sync->close();
        });
        window.findChild<QAction*>("action_synchro")->trigger();
        QVERIFY2(trouble.isEmpty(), qPrintable(trouble));
        QCOMPARE(first.device().recordCount(), 0);
        QCOMPARE(second.device().address(), 12);
        verifyTables(5, firstSent);
        verifyTables(9, secondSent);

        // --- the person's display ---
        emit tree->itemClicked(tree->topLevelItem(0)->child(0), 0);
        window.findChild<QDateEdit*>("de_mon")->setDate(QDate(2016, 4, 1));
        window.findChild<QRadioButton*>("rb_mon")->setChecked(true);
        QwtPlotCurve* curve = window.curvePlot()->curve();
        QVERIFY(curve && curve->plot());
        QHash<QString, double> aprilDays;
        for (const Reading& r : firstSent) {
            if (r.key.startsWith("201604"))
                aprilDays[r.key.left(8)] += r.value;
        }
        // The curve ends at the last day with readings, 15 April.
        QCOMPARE(int(curve->dataSize()), 15);
        for (int i = 0; i < int(curve->dataSize()); ++i) {
            const QString day = QString("201604%1").arg(i + 1, 2, 10, QChar('0'));
            QVERIFY(qAbs(curve->sample(i).y() - aprilDays.value(day)) < 1e-6);
        }
        double total = -firstSent.size() * 0.23;
        for (const Reading& r : firstSent)
            total += r.value;
        QCOMPARE(window.findChild<QLabel*>("lb_value")->text(),
                 QString::number(total, 'g', 6) + QString::fromUtf8("μSv/") + QString::number(20000 - total, 'g', 6)
                     + QString::fromUtf8("μSv"));
        const QList<double> shares = window.findChild<My_pieChart*>()->getData();
        QCOMPARE(shares.size(), 2);
        QVERIFY(qAbs(shares[1] - total / 20000) < 1e-12);

        // --- synchronise again: nothing is stored twice ---
        const double rowsBefore = scalar("select count(*) from Realdata");
        const double monthBefore = scalar("select sum(probeValue) from Yeardata");
        QTimer::singleShot(0, this, [&] {
            if (!waitFor([&] { return table->rowCount() == 2; }))
                trouble += "second synchronisation incomplete; ";
            sync->close();
        });
        window.findChild<QAction*>("action_synchro")->trigger();
        QVERIFY2(trouble.isEmpty(), qPrintable(trouble));
        // The first device is empty now; the second answers under its new
        // address with the readings it still holds.
        QCOMPARE(scalar("select count(*) from Realdata where slaveId = 5"), double(firstSent.size()));
        verifyTables(12, secondSent);
        QCOMPARE(scalar("select count(*) from Realdata"), rowsBefore + secondSent.size());
        QCOMPARE(scalar("select count(*) from (select slaveId, dataTime from Realdata "
                        "group by slaveId, dataTime having count(*) > 1)"),
                 0.0);
        QVERIFY(scalar("select sum(probeValue) from Yeardata") > monthBefore);

        check.close();
        check = QSqlDatabase();
        QSqlDatabase::removeDatabase("wholeroad-check");
    }
};

QTEST_MAIN(tst_wholeroad)
#include "tst_wholeroad.moc"
