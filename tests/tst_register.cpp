#include <QtTest>
#include <QtWidgets>

#include "records/AddDevice.h"
#include "records/AddStaff.h"
#include "records/DepartInfo.h"
#include "records/DeviceInfo.h"
#include "records/Infomation.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

class TestRegister : public QObject, private FormDriver
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<QDialog> list;
    QString chosenPhoto;

    QString text(const QString& sql) { return ws->value(sql).toString(); }
    int rows() { return child<QTableView>(list.get(), "tableView")->model()->rowCount(); }
    void open(int kind) // 0 staff, 1 departments, 2 devices
    {
        DataBase* db = ws->store.get();
        list.reset(kind == 0   ? static_cast<QDialog*>(new Infomation(nullptr, nullptr, db))
                   : kind == 1 ? static_cast<QDialog*>(new DepartInfo(nullptr, nullptr, db))
                               : new DeviceInfo(nullptr, nullptr, db));
        list->show();
    }
    static ModalScript::Action fill(const QString& fields, const char* button, const QString& loaded = QString())
    {
        return [=](QWidget* d) {
            QString shown; // a line edit's text or a combo box's current text
            for (const QString& name : loaded.section('=', 0, 0).split(',', Qt::SkipEmptyParts))
                for (const char* p : {"text", "currentText"})
                    shown += child(d, qPrintable(name))->property(p).toString();
            for (const QString& f : fields.split(';', Qt::SkipEmptyParts)) {
                QWidget* w = child(d, qPrintable(f.section('=', 0, 0)));
                w->setProperty(qobject_cast<QLineEdit*>(w) ? "text" : "currentText", f.section('=', 1));
            }
            click(d, button);
            return shown == loaded.section('=', 1) ? QString() : "showed " + shown;
        };
    }
    void press(const char* button, ModalScript& script, const QString& key = QString())
    {
        if (!key.isEmpty()) {
            click(list.get(), "btnSearch");
            clickRow(child<QTableView>(list.get(), "tableView"), key);
        }
        click(list.get(), button);
        ANSWERED(script);
    }
    void asksForARow(const char* button)
    {
        press(button, ModalScript().box("Done", " 请选择一条数据", QMessageBox::Ok, list.get()));
    }

private slots:
    void initTestCase() { AddStaff::imageChooser = [this](QWidget*) { return chosenPhoto; }; }
    void init()
    {
        list.reset();
        ws.reset();
        ws = std::make_unique<ScratchDatabase>();
        QVERIFY(ws->exec("insert into Department(department,dname) values('放射科','甲'),('核医学科','乙'),('检验科','丙')"));
        for (const QString person : {"110 张三 放射科", "120 李四 放射科", "130 王五 核医学科", "140 赵六 检验科"})
            ws->addPerson(person.section(' ', 0, 0), person.section(' ', 1, 1), person.section(' ', 2));
        for (int id : {7, 8, 9}) {
            ws->addDevice(id, QString::number(id * 10 + 40));
            for (const char* table : {"Realdata", "Monthdata", "Yeardata", "SeqYeardata"})
                ws->addDose(table, id, "20240101000000", 1);
        }
    }

    void selectionEndsWithItsRow_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("keys"); // table, first/last row, header, new row; rows, staff, readings left
        QTest::newRow("staff") << 0 << QStringList{"Staff", "110", "140", "身份证号", "(ID_card) values('150')", "3 3 3"};
        QTest::newRow("departs") << 1 << QStringList{"Department", "放射科", "检验科", "部门号", "(department) values('新科')", "2 4 3"};
        QTest::newRow("devices") << 2 << QStringList{"Device", "7", "9", "设备号", "(slaveId,ID_card) values(10,'140')", "2 4 3"};
    }
    void selectionEndsWithItsRow()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, keys);
        open(kind);
        auto* view = child<QTableView>(list.get(), "tableView");
        asksForARow("btnModify");
        asksForARow("btnDel");
        QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), keys[3]);
        QVERIFY(view->isColumnHidden(0) && !view->isColumnHidden(1));
        clickRow(view, keys[1]);
        QVERIFY(ws->exec("delete from " + keys[0] + " where id = 1")); // behind the list's back
        asksForARow("btnModify");
        QCOMPARE(rows(), text("select count(*) from " + keys[0]).toInt()); // searched again
        ModalScript yes;
        press("btnDel", kind == 0 ? yes.box("询问", "是否保留人员历史数据", QMessageBox::Yes) : yes, keys[2]);
        QCOMPARE(rows(), text("select count(*) from " + keys[0]).toInt());
        QVERIFY(ws->exec("insert into " + keys[0] + keys[4])); // takes the deleted id
        asksForARow("btnModify");
        QCOMPARE(QStringList({text("select count(*) from " + keys[0]), text("select count(*) from Staff"),
                              text("select count(*) from Realdata")}).join(' '), keys[5]);
    }

    void searchesAreBoundAndReadEveryRow_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("found");
        QTest::newRow("staff, all") << 0 << "" << 605;
        QTest::newRow("staff, quote") << 0 << "O'" << 1;
        QTest::newRow("departments, quote") << 1 << "'" << 1;
        QTest::newRow("devices, all") << 2 << "" << 4; // not device 10, whose person is gone
        QTest::newRow("devices, address") << 2 << " 8 " << 1;
        QTest::newRow("devices, no number") << 2 << "abc" << 0; // not device 0 either
    }
    void searchesAreBoundAndReadEveryRow()
    {
        QFETCH(int, kind);
        QFETCH(QString, filter);
        QVERIFY(ws->db.transaction());
        for (int i = 0; i < 600; ++i)
            ws->addPerson(QString("p%1").arg(i), QString("人员%1").arg(i));
        ws->addPerson("O'Neil", "O'Neil");
        QVERIFY(ws->db.commit() && ws->exec("insert into Department(department) values('O''Brien 实验室')"));
        ws->addDevice(10, "X");
        ws->addDevice(0, "p0");
        open(kind);
        child<QLineEdit>(list.get(), kind == 0 ? "le_name" : kind == 1 ? "le_dep" : "le_dev")->setText(filter);
        click(list.get(), "btnSearch");
        QTEST(rows(), "found");
    }

    void staffDeleteAsksWhatGoes_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("left"); // staff, then the dose rows of devices 7 and 8
        QTest::newRow("yes keeps the history") << "110" << int(QMessageBox::Yes) << "3 4 4";
        QTest::newRow("no deletes it too") << "110" << int(QMessageBox::No) << "3 0 4";
        QTest::newRow("escape deletes nothing") << "110" << int(Qt::Key_Escape) << "4 4 4";
        QTest::newRow("closing deletes nothing") << "110" << int(QMessageBox::NoButton) << "4 4 4";
        QTest::newRow("no device: the person only") << "140" << int(QMessageBox::No) << "3 4 4";
    }
    void staffDeleteAsksWhatGoes()
    {
        QFETCH(QString, card);
        QFETCH(int, answer);
        open(0);
        ModalScript script;
        script.expect("询问", [](QWidget* d) {
            auto* b = qobject_cast<QMessageBox*>(d);
            const bool yesNo = b->defaultButton() == b->button(QMessageBox::Yes) && b->button(QMessageBox::No)->isVisible();
            return yesNo ? QString() : QString("not Yes/No with Yes first");
        });
        press("btnDel", script.box("询问", "是否保留人员历史数据", answer), card);
        const QString history("select count(*) from (select slaveId from Realdata union all select slaveId from "
                              "Monthdata union all select slaveId from Yeardata union all select slaveId from "
                              "SeqYeardata) where slaveId = ");
        QTEST(text("select count(*) from Staff") + ' ' + text(history + '7') + ' ' + text(history + '8'), "left");
        QCOMPARE(rows(), text("select count(*) from Staff").toInt());
    }

    void staffCardsAndPhotos()
    {
        QVERIFY(ws->exec("update Staff set photo = 'photo-a', gender = '女', ptype = 1, department = '核医学科' where id = 1"));
        ws->addDevice(11, "X9"); // left by a deleted person
        QFile file("a.png");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("\x89PNG pic") == 8 && file.flush());
        chosenPhoto = QFileInfo(file).absoluteFilePath();
        open(0);
        ModalScript script;
        script.expect("添加人员信息", fill("Id_card=  ", "btnAdd")).box("添加人员", "身份证号不能为空!");
        script.expect("添加人员信息", fill("Id_card=110", "btnAdd")).box("添加人员", "身份证号已存在!").expect("添加人员信息", fill("", "photo"));
        press("btnAdd", script.expect("添加人员信息", fill("Id_card=150;Name=钱七;Gender=女;Depart=检验科;Teleno=555;Adress=北路;"
                                                           "type_cmb=非职业人员", "btnAdd")));
        press("btnAdd", script.expect("添加人员信息", fill("Id_card=160", "btnAdd", "Name=钱七"))); // not the photo
        QCOMPARE(text("select name||gender||ptype||totalValue||department||teleNo||adress||length(photo) from Staff "
                      "where ID_card = '150'"), QString("钱七女10.0检验科555北路8"));
        QCOMPARE(text("select ifnull(length(photo), 0) from Staff where ID_card = '160'"), QString("0"));

        script.expect("修改人员信息", fill("Id_card=", "btnMod", "Depart,Gender,cbm_type=核医学科女非职业人员"));
        script.box("修改人员", "身份证号不能为空!").expect("修改人员信息", fill("Id_card=120", "btnMod"));
        script.box("修改人员", "身份证号已存在!").expect("修改人员信息", fill("Id_card=X9", "btnMod"));
        script.box("修改人员", "身份证号已绑定其他设备!").expect("修改人员信息", fill("Id_card=111;Name=张三丰", "btnMod"));
        press("btnModify", script, "110");
        QCOMPARE(text("select name||photo from Staff where id = 1"), QString("张三丰photo-a"));
        QCOMPARE(text("select group_concat(slaveId||ID_card) from Device"), QString("7111,8120,9130,11X9"));
        press("btnModify", script.expect("修改人员信息", fill("", "photo")).expect("修改人员信息", fill("", "btnQuit")), "111");
        press("btnModify", script.expect("修改人员信息", fill("", "btnMod")), "120");
        QCOMPARE(text("select ifnull(length(photo), 0) from Staff where ID_card = '120'"), QString("0"));
        press("btnModify", script.expect("修改人员信息", fill("", "photo")).expect("修改人员信息", fill("", "btnMod")), "111");
        QCOMPARE(text("select length(photo) from Staff where id = 1"), QString("8"));
    }

    void storeChangesAllOrNothing()
    {
        const int twin = ws->addPerson("110", "张三"); // the same card twice
        ws->addDevice(11, "X9");
        Staffdata person, other;
        QVERIFY(ws->store->selectStaffById(person, 1, ws->db) && ws->store->selectStaffById(other, twin, ws->db));
        person.ID_card = "111"; // the card is still the twin's: the device stays
        QVERIFY(ws->store->updateStaffAndDevice(person, ws->db));
        other.ID_card = "X9"; // device 7 to a card with device 11: refused whole
        other.name = "改名";
        QVERIFY(!ws->store->updateStaffAndDevice(other, ws->db));
        QCOMPARE(text(QString("select name from Staff where id = %1").arg(twin)), QString("张三"));
        QVERIFY(ws->exec("delete from Staff where id = ?", {twin})); // deleted meanwhile: nothing moves
        other.ID_card = "112";
        QVERIFY(!ws->store->updateStaffAndDevice(other, ws->db));
        QCOMPARE(text("select group_concat(slaveId||ID_card) from Device"), QString("7110,8120,9130,11X9"));
        Departdata department{9, "新名", ""};
        QVERIFY(!ws->store->updateDepartmentAndStaff(department, ws->db)); // no such row: nothing changes
        QVERIFY(ws->store->selectDepartmentByName(department, "核医学科", ws->db) && department.id == 2);
        QVERIFY(!ws->store->selectDepartmentByName(department, "\"核医学科\"", ws->db));
        QCOMPARE(text("select count(*) from Staff where department = '新名'"), QString("0"));
    }

    void devicesBindOnceToWholeSixteenBitAddresses()
    {
        open(2);
        ModalScript script; // nobody to bind to
        script.expect("添加设备信息", [](QWidget* d) {
            child<QComboBox>(d, "Name")->clear();
            return fill("device=3", "btnAdd")(d);
        });
        press("btnAdd", script.box("添加设备", "身份证号不能为空!").expect("添加设备信息", fill("", "btnQuit")));
        script.expect("添加设备信息", fill("Name=140;device=8", "btnAdd")).box("添加设备", "设备ID已绑定!");
        for (const char* bad : {"", "abc", "1.5", "0x10", "65536", "-1"}) // the dialog stays open
            script.expect("添加设备信息", fill(QString("device=") + bad, "btnAdd")).box("添加设备", "设备号无效!");
        press("btnAdd", script.expect("添加设备信息", fill("device= 0 ", "btnAdd")));
        press("btnAdd", script.expect("添加设备信息", fill("Name=140;device=13", "btnAdd")).box("添加设备", "设备已添加，请进入修改界面!"));
        QVERIFY(!list->findChild<AddDevice*>()->isVisible());
        QCOMPARE(rows(), 4);

        press("btnModify", script.expect("修改设备信息", fill("", "btnMod", "Name,device=1107")), "7"); // no clash
        script.expect("修改设备信息", fill("device=8", "btnMod")).box("修改设备", "设备ID已绑定!");
        script.expect("修改设备信息", fill("device=x", "btnMod")).box("修改设备", "设备号无效!");
        press("btnModify", script.expect("修改设备信息", fill("device=65535", "btnMod")), "7");
        QCOMPARE(text("select group_concat(slaveId||ID_card) from Device"), QString("65535110,8120,9130,0140"));
    }

    void departmentNamesAreGivenUniqueAndTakeTheirStaffAlong()
    {
        open(1);
        ModalScript script;
        script.expect("添加部门信息", fill("depart= ;depart_name=x", "btnAdd")).box("添加部门", "部门名称不能为空!");
        script.expect("添加部门信息", fill("depart=放射科", "btnAdd")).box("添加部门", "部门已存在!");
        press("btnAdd", script.expect("添加部门信息", fill("depart=O'Brien 实验室;depart_name=李主任", "btnAdd")));
        QCOMPARE(rows(), 4);
        QCOMPARE(text("select dname from Department where department = 'O''Brien 实验室'"), QString("李主任"));
        script.expect("修改部门信息", fill("depart=", "btnMod", "depart,depart_name=放射科甲"));
        script.box("修改部门", "部门名称不能为空!").expect("修改部门信息", fill("depart=核医学科", "btnMod"));
        press("btnModify", script.box("修改部门", "部门已存在!").expect("修改部门信息", fill("depart=影像科;depart_name=丁", "btnMod")), "放射科");
        QCOMPARE(text("select group_concat(ID_card||department) from Staff"), QString("110影像科,120影像科,130核医学科,140检验科"));
        press("btnModify", script.expect("修改部门信息", fill("depart_name=戊", "btnMod")), "影像科"); // head only
        QCOMPARE(text("select department||dname from Department where id = 1"), QString("影像科戊"));
    }
};

QTEST_MAIN(TestRegister)
#include "tst_register.moc"
