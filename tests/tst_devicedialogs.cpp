// Device list, add and modify dialogs driven through their widgets on a
// scratch database; the modal windows are answered from timers.

#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QTableView>

#include "records/AddDevice.h"
#include "records/DeviceInfo.h"
#include "records/ModDevice.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

class TestDeviceDialogs : public QObject, private FormDriver
{
    Q_OBJECT

    static ModalScript::Action enter(const QString& address, const char* ok, const QString& card = {})
    {
        return [=](QWidget* d) {
            if (!card.isEmpty())
                child<QComboBox>(d, "Name")->setCurrentText(card);
            child<QLineEdit>(d, "device")->setText(address);
            click(d, ok);
            return QString();
        };
    }

private slots:
    // The titles the scripts find the windows by and the named connections.
    void forms_titlesAndConnections()
    {
        ScratchDatabase ws;
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        auto* add = list.findChild<AddDevice*>();
        auto* mod = list.findChild<ModDevice*>();
        QVERIFY(add && mod);
        QCOMPARE(list.windowTitle() + add->windowTitle() + mod->windowTitle(),
                 QStringLiteral("设备信息查询添加设备信息修改设备信息"));
        for (const char* conn : {"device.db", "AddDevice.db", "Modstaff.db"})
            QVERIFY2(QSqlDatabase::contains(QLatin1String(conn)), conn);
    }

    void parseAddress_takesWholeNumbersOfSixteenBits()
    {
        const QList<QPair<QString, int>> cases = {{"0", 0},    {"65535", 65535}, {" 12 ", 12}, {"65536", -1},
                                                  {"-1", -1},  {"", -1},         {"1.5", -1},  {"0x10", -1}};
        for (const auto& c : cases) {
            int address = -7;
            QCOMPARE(AddDevice::parseAddress(c.first, address), c.second >= 0);
            QCOMPARE(address, c.second >= 0 ? c.second : -7);
        }
    }

    void search_joinsStaffAndFiltersByAddress()
    {
        ScratchDatabase ws;
        ws.addPerson("110", QStringLiteral("张三"));
        ws.addPerson("120", QStringLiteral("李四"));
        ws.addDevice(5, "110");
        ws.addDevice(6, "120");
        ws.addDevice(7, "130"); // its person was deleted
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        auto* view = child<QTableView>(&list, "tableView");
        const auto search = [&](const QString& filter) {
            child<QLineEdit>(&list, "le_dev")->setText(filter);
            click(&list, "btnSearch");
            return view->model()->rowCount();
        };
        QCOMPARE(search(""), 2);
        QCOMPARE(view->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("姓名"));
        QVERIFY(view->isColumnHidden(0));
        QCOMPARE(search("6"), 1);
        QCOMPARE(view->model()->index(0, 3).data().toString(), QStringLiteral("李四"));
        for (const char* typed : {"abc", "5 or 1=1", "5;"}) {
            QCOMPARE(search(QLatin1String(typed)), 0);
            QCOMPARE(view->model()->columnCount(), 4);
        }
        // The person entered again: the device is listed again.
        ws.addPerson("130", QStringLiteral("王五"));
        QCOMPARE(search(""), 3);
    }

    void add_bindsOnceAndRefusesTakenOrInvalidAddresses()
    {
        ScratchDatabase ws;
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        ModalScript nobody;
        nobody.expect("添加设备信息", enter("3", "btnAdd"))
            .box("添加设备", QStringLiteral("身份证号不能为空!"))
            .expect("添加设备信息", enter("3", "btnQuit"));
        click(&list, "btnAdd");
        ANSWERED(nobody);

        ws.addPerson("110", QStringLiteral("张三"));
        ws.addPerson("120", QStringLiteral("李四"));
        ws.addDevice(6, "120");
        ModalScript script;
        script.expect("添加设备信息", [](QWidget* d) {
            const bool listed = child<QComboBox>(d, "Name")->count() == 2;
            enter("6", "btnAdd", "110")(d);
            return listed ? QString() : QStringLiteral("cards not listed");
        });
        script.box("添加设备", QStringLiteral("设备ID已绑定!"));
        for (const char* bad : {"", "abc", "70000", "-1"})
            script.expect("添加设备信息", enter(QLatin1String(bad), "btnAdd")).box("添加设备", QStringLiteral("设备号无效!"));
        script.expect("添加设备信息", enter("12", "btnAdd"));
        click(&list, "btnAdd");
        ANSWERED(script);
        QCOMPARE(ws.value("select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("6120,12110"));
        QCOMPARE(child<QTableView>(&list, "tableView")->model()->rowCount(), 2);

        // A second device for the same person: told to modify instead, dialog closed.
        ModalScript second;
        second.expect("添加设备信息", enter("13", "btnAdd", "110"))
            .box("添加设备", QStringLiteral("设备已添加，请进入修改界面!"));
        click(&list, "btnAdd");
        ANSWERED(second);
        QVERIFY(!list.findChild<AddDevice*>()->isVisible());
        QCOMPARE(ws.value("select count(*) from Device").toInt(), 2);
    }

    void modify_acceptsItsOwnAddressAndRefusesOthers()
    {
        ScratchDatabase ws;
        ws.addPerson("110", QStringLiteral("张三"));
        ws.addPerson("120", QStringLiteral("李四"));
        ws.addDevice(5, "110");
        ws.addDevice(6, "120");
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(child<QTableView>(&list, "tableView"), "5");

        ModalScript script;
        script.expect("修改设备信息", [](QWidget* d) {
                  const bool loaded = child<QComboBox>(d, "Name")->count() == 1
                                      && child<QComboBox>(d, "Name")->currentText() == "110"
                                      && child<QLineEdit>(d, "device")->text() == "5";
                  click(d, "btnMod");
                  return !loaded ? QStringLiteral("not loaded")
                                 : d->isVisible() ? QStringLiteral("own address refused") : QString();
              })
            .expect("修改设备信息", enter("6", "btnMod"))
            .box("修改设备", QStringLiteral("设备ID已绑定!"))
            .expect("修改设备信息", enter("x", "btnMod"))
            .box("修改设备", QStringLiteral("设备号无效!"))
            .expect("修改设备信息", enter("15", "btnMod"));
        click(&list, "btnModify"); // accepted unchanged
        click(&list, "btnModify");
        ANSWERED(script);
        QCOMPARE(ws.value("select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("15110,6120"));
    }

    void delete_removesOnlyTheBindingAndEndsTheSelection()
    {
        ScratchDatabase ws;
        ws.addPerson("110", QStringLiteral("张三"));
        ws.addPerson("120", QStringLiteral("李四"));
        ws.addDevice(5, "110");
        ws.addDevice(6, "120");
        ws.value("insert into Realdata(slaveId,dataTime,probeValue) values(6,'20240101000000',2.0)");
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = child<QTableView>(&list, "tableView");
        const auto expectNoSelection = [&](const char* button) {
            ModalScript script;
            script.box("Done", QStringLiteral(" 请选择一条数据"), QMessageBox::Ok, &list);
            click(&list, button);
            ANSWERED(script);
        };
        click(&list, "btnSearch");
        clickRow(view, "5");
        ws.value("delete from Device where slaveId = 5"); // behind the list's back
        expectNoSelection("btnModify");
        QCOMPARE(view->model()->rowCount(), 1);

        clickRow(view, "6");
        click(&list, "btnDel");
        QCOMPARE(ws.value("select count(*) from Device").toInt(), 0);
        QCOMPARE(ws.value("select count(*) from Realdata where slaveId = 6").toInt(), 1);
        QCOMPARE(ws.value("select count(*) from Staff").toInt(), 2);
        QCOMPARE(view->model()->rowCount(), 0);

        ws.addDevice(9, "120"); // takes the deleted id
        expectNoSelection("btnDel");
        QCOMPARE(ws.value("select count(*) from Device").toInt(), 1);
    }
};

QTEST_MAIN(TestDeviceDialogs)
#include "tst_devicedialogs.moc"
