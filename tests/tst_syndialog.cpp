// The synchronisation dialog driving simulated dosimeters on pseudo-terminals
// through the serial link and the processing thread, wired as the main window
// wires them, on a database in a temporary working directory.

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "app/SettingsAdpater.h"
#include "db/DataBase.h"
#include "device/SerialPort.h"
#include "device/SynDevdata.h"
#include "processing/mydeal_thread.h"
#include "sim/SimPty.h"

namespace {

PortDescription describe(const QString& path)
{
    PortDescription d;
    d.portName = path;
    d.systemLocation = path;
    return d;
}

struct Request
{
    int type, oldId, newId;
    bool resynEnabled;  // "同步" when the request went out
    QString label;      // the label then
};

} // namespace

class tst_syndialog : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SettingsAdpater> settings;
    std::unique_ptr<DataBase> database;
    std::unique_ptr<mydeal_thread> worker;
    std::unique_ptr<SerialPort> link;
    std::unique_ptr<SynDevdata> dialog;
    QList<std::shared_ptr<SimPty>> sims;
    QList<PortDescription> listed;
    QList<Request> requests;

    std::shared_ptr<SimPty> addSim(int address, int records = 3)
    {
        auto sim = std::make_shared<SimPty>(address);
        const QDateTime start(QDate(2016, 4, 14), QTime(0, 0));
        for (int i = 0; i < records; ++i)
            sim->device().addRecord(start.addSecs(3600 * i), 0.5);
        listed.append(describe(sim->slavePath()));
        sims.append(sim);
        return sim->isValid() ? sim : nullptr;
    }

    QTableWidget* table() const { return dialog->findChild<QTableWidget*>(QStringLiteral("tableWidget")); }
    QString label() const { return dialog->findChild<QLabel*>(QStringLiteral("label_info"))->text(); }
    QPushButton* button(const char* name) const { return dialog->findChild<QPushButton*>(QLatin1String(name)); }
    QString cell(int row, int column) const
    {
        const QTableWidgetItem* item = table()->item(row, column);
        return item ? item->text() : QString();
    }
    static QString port(const std::shared_ptr<SimPty>& sim) { return QStringLiteral("串口 ") + sim->slavePath(); }

    int storedReadings(int slaveId)
    {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("syndialog-check")));
        q.prepare(QStringLiteral("select count(*) from Realdata where slaveId = ?"));
        q.addBindValue(slaveId);
        return q.exec() && q.next() ? q.value(0).toInt() : -1;
    }

    int requestsOfType(int type) const
    {
        return int(std::count_if(requests.begin(), requests.end(), [&](const Request& r) { return r.type == type; }));
    }

    // Shows the dialog, which starts a synchronisation, and waits for the rows.
    bool showAndWait(int rows)
    {
        dialog->show();
        return QTest::qWaitForWindowExposed(dialog.get())
               && QTest::qWaitFor([&] { return table()->rowCount() >= rows && button("btnresyn")->isEnabled(); });
    }

    // Double-clicks a cell as the operator does; returns the editor it opened.
    QLineEdit* openEditor(int row, int column)
    {
        const QPoint pos = table()->visualItemRect(table()->item(row, column)).center();
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseDClick(table()->viewport(), Qt::LeftButton, Qt::NoModifier, pos);
        return table()->viewport()->findChild<QLineEdit*>();
    }

    // Types into a cell and leaves it with Return.
    bool editCell(int row, int column, const QString& text)
    {
        QLineEdit* editor = openEditor(row, column);
        if (!editor)
            return false;
        editor->selectAll();
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        return QTest::qWaitFor([&] {
            auto* open = table()->viewport()->findChild<QLineEdit*>();
            return !open || !open->isVisible();
        });
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        listed.clear();
        requests.clear();
        SerialPort::setPortLister([this] { return listed; });
        settings = std::make_unique<SettingsAdpater>(dir->filePath(QStringLiteral("zudovi.ini")), QSettings::IniFormat);
        database = std::make_unique<DataBase>();
        QVERIFY(database->createTables());
        link = std::make_unique<SerialPort>(nullptr, settings.get(), database.get());
        link->setResponseTimeout(3000);
        worker = std::make_unique<mydeal_thread>(nullptr, database.get(), settings.get());
        dialog = std::make_unique<SynDevdata>(nullptr);

        // First, so that it sees the dialog as it was when it asked.
        connect(dialog.get(), &SynDevdata::Syndevid_signal, this, [this](int type, int oldId, int newId) {
            requests.append({type, oldId, newId, button("btnresyn")->isEnabled(), label()});
        });
        connect(dialog.get(), &SynDevdata::Syndevid_signal, link.get(), &SerialPort::dealsyndata);
        connect(link.get(), &SerialPort::data_Result, dialog.get(), &SynDevdata::getsyninfo);
        connect(link.get(), &SerialPort::receiveProgress, dialog.get(), &SynDevdata::showProgress);
        connect(link.get(), &SerialPort::portOpenFailed, dialog.get(), &SynDevdata::noteOpenFailure);
        connect(link.get(), &SerialPort::MySave_data, worker.get(), &mydeal_thread::MY_receiveData);
        connect(worker.get(), &mydeal_thread::dataStored, link.get(), &SerialPort::dataStoreResult,
                Qt::DirectConnection);

        QSqlDatabase check = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("syndialog-check"));
        check.setDatabaseName(dir->filePath(QStringLiteral("database.db")));
        QVERIFY(check.open());
    }

    void cleanup()
    {
        QSqlDatabase::database(QStringLiteral("syndialog-check")).close();
        QSqlDatabase::removeDatabase(QStringLiteral("syndialog-check"));
        dialog.reset();
        link.reset();
        worker.reset();
        sims.clear();
        database.reset();
        settings.reset();
        SerialPort::setPortLister({});
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        dir.reset();
    }

    // ---- Synchronisation --------------------------------------------------

    void noPortSaysNoDeviceAndAllowsAnotherTry()
    {
        QCOMPARE(dialog->size(), QSize(425, 359));
        QCOMPARE(table()->horizontalHeaderItem(1)->text(), QStringLiteral("设备ID"));
        QCOMPARE(label(), QStringLiteral("数据正在同步。。。。。。"));
        dialog->show();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].type, 0);
        QCOMPARE(requests[0].oldId, -1);
        QCOMPARE(requests[0].newId, -1);
        QCOMPARE(requests[0].label, QStringLiteral("正在同步设备，收集数据中。。。。"));
        QVERIFY(!requests[0].resynEnabled);
        QCOMPARE(label(), QStringLiteral("没有设备连接到电脑上！"));
        QVERIFY(button("btnresyn")->isEnabled());

        QTest::mouseClick(button("btnresyn"), Qt::LeftButton);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1].label, QStringLiteral("同步数据!"));
        QVERIFY(!requests[1].resynEnabled);
        QCOMPARE(label(), QStringLiteral("没有设备连接到电脑上！"));
        QVERIFY(button("btnresyn")->isEnabled());

        QTest::mouseClick(button("btnQuit"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    void portsThatCannotOpenAreNamedWithTheReason()
    {
        const QString a = dir->filePath(QStringLiteral("ttyGone0"));
        const QString b = dir->filePath(QStringLiteral("ttyGone1"));
        QSerialPort probe(a);
        QVERIFY(!probe.open(QIODevice::ReadWrite));
        const QString reason = probe.errorString();
        listed = {describe(a), describe(b)};
        dialog->show();
        QCOMPARE(label(), QStringLiteral("没有设备连接到电脑上！\n串口 %1, %2 无法打开：%3").arg(a, b, reason));

        // Each synchronisation tells of its own ports only.
        listed = {describe(b)};
        QTest::mouseClick(button("btnresyn"), Qt::LeftButton);
        QCOMPARE(label(), QStringLiteral("没有设备连接到电脑上！\n串口 %1 无法打开：%2").arg(b, reason));
    }

    void twoDevicesGiveTwoRowsAndTheirReadings()
    {
        auto a = addSim(5, 4);
        auto b = addSim(300, 6);
        QVERIFY(a && b);
        QVERIFY(showAndWait(2));
        QCOMPARE(dialog->devRows().size(), 2);
        QMap<QString, QString> portOf;
        for (int r = 0; r < 2; ++r) {
            QCOMPARE(cell(r, 2), QStringLiteral("同步成功"));
            QCOMPARE(cell(r, 1), QString::number(dialog->devRows().at(r).devId));
            portOf.insert(cell(r, 1), cell(r, 0));
        }
        QCOMPARE(portOf.value(QStringLiteral("5")), a->slavePath());
        QCOMPARE(portOf.value(QStringLiteral("300")), b->slavePath());
        QVERIFY(label() == port(a) + QStringLiteral("同步成功!") || label() == port(b) + QStringLiteral("同步成功!"));
        QCOMPARE(storedReadings(5), 4);
        QCOMPARE(storedReadings(300), 6);

        // Coming back from minimised is no new showing; a new showing starts afresh.
        dialog->showMinimized();
        QTest::qWait(50);
        dialog->showNormal();
        QTest::qWait(50);
        QCOMPARE(requestsOfType(0), 1);
        dialog->hide();
        QVERIFY(showAndWait(2));
        QTest::qWait(100);
        QCOMPARE(table()->rowCount(), 2);
        QCOMPARE(requestsOfType(0), 2);
    }

    void deviceAnsweringTwiceGetsTwoRows()
    {
        auto sim = addSim(8);
        QVERIFY(sim);
        QVERIFY(showAndWait(1));
        sim->send(sim->device().dataReply());  // unasked, after its read reply
        QTRY_COMPARE(table()->rowCount(), 2);
        QCOMPARE(cell(1, 0), sim->slavePath());
        QCOMPARE(cell(1, 1), QStringLiteral("8"));
        QCOMPARE(dialog->devRows().size(), 2);
    }

    void replyThatCannotBeStoredShowsFailureAndNoRow()
    {
        // Address 0 as well: a device there that fails is no "no device".
        auto sim = addSim(0, 5);
        QVERIFY(sim);
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("syndialog-check")));
        QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER t BEFORE INSERT ON Realdata BEGIN SELECT RAISE(ABORT,'x'); END")));
        dialog->show();
        QTRY_VERIFY(button("btnresyn")->isEnabled());
        QCOMPARE(label(), port(sim) + QStringLiteral("同步失败!"));
        QCOMPARE(table()->rowCount(), 0);
        QVERIFY(dialog->devRows().isEmpty());

        QVERIFY(q.exec(QStringLiteral("DROP TRIGGER t")));
        QTest::mouseClick(button("btnresyn"), Qt::LeftButton);
        QTRY_COMPARE(table()->rowCount(), 1);
        QCOMPARE(storedReadings(0), 5);
    }

    void progressShownWhileAReplyArrives()
    {
        auto sim = addSim(4, 200);  // 1404 bytes
        QVERIFY(sim);
        sim->setChunkSize(64);
        sim->setDelay(15);
        QStringList seen;  // connected after the dialog: what it just wrote
        connect(link.get(), &SerialPort::receiveProgress, this, [&] { seen << label(); });
        QVERIFY(showAndWait(1));
        QVERIFY(seen.size() >= 2);
        const QString prefix = port(sim) + QStringLiteral(" 正在接收数据 ");
        for (const QString& text : seen)
            QVERIFY2(text.startsWith(prefix) && text.endsWith(QStringLiteral("/200")), qPrintable(text));
        QCOMPARE(seen.last(), prefix + QStringLiteral("200/200"));
        QCOMPARE(label(), port(sim) + QStringLiteral("同步成功!"));
    }

    // ---- Clearing and address changes ---------------------------------------

    void clearOnSelectedRowOnly()
    {
        auto other = addSim(6, 2);
        auto sim = addSim(7, 3);
        QVERIFY(sim && other);
        QVERIFY(showAndWait(2));
        const int row = cell(0, 1) == QStringLiteral("7") ? 0 : 1;

        // Nothing selected: no button press, and no Return in the table either
        // (that would start a synchronisation and wipe the rows).
        table()->clearSelection();
        QTest::mouseClick(button("btnclear"), Qt::LeftButton);
        table()->setFocus();
        QTest::keyClick(table(), Qt::Key_Return);
        QTest::qWait(100);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(table()->rowCount(), 2);
        QCOMPARE(sim->device().recordCount(), 3);

        sim->clearReceived();
        table()->selectRow(row);
        QTest::mouseClick(button("btnclear"), Qt::LeftButton);
        QCOMPARE(requests.last().type, 1);
        QCOMPARE(requests.last().oldId, 7);
        QCOMPARE(label(), QStringLiteral("正在清除数据。。。"));
        QTRY_COMPARE(cell(row, 2), QStringLiteral("清除成功"));
        QCOMPARE(label(), port(sim) + QStringLiteral("，设备 7数据清除成功!"));
        QCOMPARE(sim->received(), SerialPort::clearRequest(7));
        QCOMPARE(sim->device().recordCount(), 0);
        QCOMPARE(other->device().recordCount(), 2);

        dialog->getsyninfo(1, sim->slavePath(), 7, false);
        QCOMPARE(cell(row, 2), QStringLiteral("清除失败"));
        QCOMPARE(label(), port(sim) + QStringLiteral("，设备 7数据清除失败!"));
        dialog->getsyninfo(1, sim->slavePath(), 8, true);  // no such row
        QCOMPARE(label(), port(sim) + QStringLiteral("，设备 7数据清除失败!"));
    }

    void addressChangeSucceedsAndLaterRequestsUseIt()
    {
        auto sim = addSim(7);
        QVERIFY(sim);
        QVERIFY(showAndWait(1));
        sim->clearReceived();
        QVERIFY(editCell(0, 1, QStringLiteral("9")));
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.last().type, 2);
        QCOMPARE(requests.last().oldId, 7);
        QCOMPARE(requests.last().newId, 9);
        QTRY_COMPARE(cell(0, 2), QStringLiteral("修改成功"));
        QCOMPARE(label(), port(sim) + QStringLiteral("，设备 7地址成功修改为9!"));
        QCOMPARE(cell(0, 1), QStringLiteral("9"));
        QCOMPARE(dialog->devRows().at(0).devId, 9);
        QCOMPARE(sim->device().address(), 9);

        sim->clearReceived();
        table()->selectRow(0);
        QTest::mouseClick(button("btnclear"), Qt::LeftButton);
        QTRY_COMPARE(cell(0, 2), QStringLiteral("清除成功"));
        QCOMPARE(sim->received(), SerialPort::clearRequest(9));
    }

    void addressChangeTimeoutRestoresTheOldAddress()
    {
        link->setResponseTimeout(300);
        auto sim = addSim(7);
        QVERIFY(sim);
        QVERIFY(showAndWait(1));
        sim->setSilent(true);
        QVERIFY(editCell(0, 1, QStringLiteral("12")));
        QCOMPARE(requests.last().newId, 12);
        QCOMPARE(label(), QStringLiteral("正在修改设备地址。。。"));
        QTRY_COMPARE(cell(0, 2), QStringLiteral("修改失败"));
        QCOMPARE(label(), port(sim) + QStringLiteral("，设备 7地址修改失败!"));
        QCOMPARE(cell(0, 1), QStringLiteral("7"));
        QCOMPARE(dialog->devRows().at(0).devId, 7);
        QTest::qWait(100);
        QCOMPARE(requestsOfType(2), 1);  // writing it back is no request
    }

    void editsThatAreNoAddressChangeSendNothing()
    {
        auto sim = addSim(7);
        QVERIFY(sim);
        QVERIFY(showAndWait(1));
        const QString portName = cell(0, 0);
        QVERIFY(editCell(0, 0, QStringLiteral("elsewhere")));
        QCOMPARE(cell(0, 0), QStringLiteral("elsewhere"));
        QVERIFY(editCell(0, 2, QStringLiteral("anything")));
        QVERIFY(editCell(0, 1, QStringLiteral("7")));  // unchanged
        // The same address written otherwise, or no address: the old one stays.
        for (const QString& text : {QStringLiteral("007"), QStringLiteral("abc"), QStringLiteral("70000")}) {
            QVERIFY(editCell(0, 1, text));
            QCOMPARE(cell(0, 1), QStringLiteral("7"));
        }
        QVERIFY(!dialog->isEditing());

        // Rows and cells written by outcomes while an address edit is armed.
        QLineEdit* editor = openEditor(0, 1);
        QVERIFY(editor && dialog->isEditing());
        sim->send(sim->device().dataReply());
        QTRY_COMPARE(table()->rowCount(), 2);
        dialog->getsyninfo(1, portName, 7, true);
        QCOMPARE(cell(0, 2), QStringLiteral("清除成功"));
        QVERIFY(dialog->isEditing());
        QTest::keyClick(editor, Qt::Key_Escape);
        QTest::qWait(100);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(sim->device().address(), 7);
    }
};

QTEST_MAIN(tst_syndialog)
#include "tst_syndialog.moc"
