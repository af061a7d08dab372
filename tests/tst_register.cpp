#include <QtTest>
#include <QtWidgets>

#include "desktop/AddStaff.h"
#include "desktop/DepartInfo.h"
#include "desktop/DeviceInfo.h"
#include "desktop/Infomation.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

class TestRegister : public QObject, private FormDriver
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> ws;
    std::unique_ptr<QDialog> list;

    QString text(const QString& sql) { return ws->list(sql); }
    int rows() { return child<QTableView>(list.get(), "tableView")->model()->rowCount(); }
    void open(const QString& table) // the register dialog of Staff, Department or Device
    {
        list.reset(table == "Staff"        ? static_cast<QDialog*>(new Infomation(nullptr, nullptr, ws->store.get()))
                   : table == "Department" ? static_cast<QDialog*>(new DepartInfo(nullptr, nullptr, ws->store.get()))
                                           : new DeviceInfo(nullptr, nullptr, ws->store.get()));
        list->show();
        click(list.get(), "btnSearch");
    }
    static ModalScript::Action fill(const QString& fields, const char* button, const QString& loaded = QString())
    {
        return [=](QWidget* d) {
            QString shown; // a line edit's text or a combo box's current text
            for (const QString& name : loaded.section('=', 0, 0).split(',', Qt::SkipEmptyParts))
                for (const char* p : {"text", "currentText"})
                    shown += child(d, qPrintable(name))->property(p).toString();
            for (const QString& f : fields.split(';', Qt::SkipEmptyParts))
                child(d, qPrintable(f.section('=', 0, 0)))
                    ->setProperty(d->findChild<QLineEdit*>(f.section('=', 0, 0)) ? "text" : "currentText", f.section('=', 1));
            click(d, button);
            return shown == loaded.section('=', 1) ? QString() : "showed " + shown;
        };
    }
    void press(const char* button, ModalScript& script, const QString& key = QString())
    {
        if (!key.isEmpty()) // the list shows what the last step left
            clickRow(child<QTableView>(list.get(), "tableView"), key);
        click(list.get(), button);
        ANSWERED(script);
    }
    void asksForARow(const char* b) { press(b, ModalScript().box("提示", "请选择一条数据。", QMessageBox::Ok, list.get())); }

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    void initTestCase() { AddStaff::imageChooser = [](QWidget*) { return QFileInfo("a.png").absoluteFilePath(); }; }
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

    void selectionEndsWithItsRow()
    {
        for (const QStringList& keys : QList<QStringList>{ // table, first/last row, header, new row; what is left
                 {"Staff", "110", "140", "身份证号", "(ID_card) values('150')", "3 3 3"},
                 {"Department", "放射科", "检验科", "部门号", "(department) values('新科')", "3 4 3"}, // 检验科 has staff
                 {"Device", "7", "9", "设备号", "(slaveId,ID_card) values(10,'140')", "2 4 3"}}) {
            init();
            open(keys[0]);
            asksForARow("btnModify");
            asksForARow("btnDel");
            QCOMPARE(child<QTableView>(list.get(), "tableView")->model()->headerData(1, Qt::Horizontal).toString(), keys[3]);
            QVERIFY(child<QTableView>(list.get(), "tableView")->isColumnHidden(0));
            clickRow(child<QTableView>(list.get(), "tableView"), keys[1]);
            QVERIFY(ws->exec("delete from " + keys[0] + " where id = 1")); // behind the list's back
            asksForARow("btnModify");
            QCOMPARE(rows(), ws->count(keys[0])); // searched again
            ModalScript yes;
            if (keys[0] == "Staff")
                yes.boxStarting("询问", "删除人员 赵六（身份证号 140）？", QMessageBox::Yes);
            else if (keys[0] == "Department")
                yes.box("删除部门", "部门“检验科”还有 1 名人员，不能删除。\n请先把他们调到其他部门或删除。", QMessageBox::Ok, list.get());
            press("btnDel", yes, keys[2]);
            QCOMPARE(rows(), ws->count(keys[0]));
            QVERIFY(ws->exec("insert into " + keys[0] + keys[4])); // takes the deleted id
            asksForARow("btnModify");
            QCOMPARE(QString("%1 %2 %3").arg(ws->count(keys[0])).arg(ws->count("Staff")).arg(ws->count("Realdata")), keys[5]);
        }
    }

    void searchesAreBoundAndReadEveryRow()
    {
        QVERIFY(ws->db.transaction()); // 600 rows quickly
        for (int i = 0; i < 600; ++i)
            ws->addPerson(QString("p%1").arg(i), QString("人员%1").arg(i));
        ws->addPerson("O'Neil", "O'Neil");
        QVERIFY(ws->db.commit() && ws->exec("insert into Department(department) values('O''Brien 实验室')"));
        QVERIFY(ws->exec("insert into Device(slaveId, ID_card) values(10, 'X'), (0, 'p0')")); // bindings only
        for (const auto& [table, filter, found] : QList<std::tuple<QString, QString, int>>{
                 {"Staff", "", 605}, {"Staff", "O'", 1}, {"Department", "'", 1}, // every row read; quotes are bound
                 {"Device", "", 4}, {"Device", " 8 ", 1}, {"Device", "abc", 0}}) { // not 10, whose person is gone, nor 0
            open(table);
            list->findChild<QLineEdit*>(QString(), Qt::FindDirectChildrenOnly)->setText(filter); // its only filter
            click(list.get(), "btnSearch");
            QVERIFY2(rows() == found, qPrintable(QString("%1 rows of %2 '%3'").arg(rows()).arg(table, filter)));
        }
    }

    void unreadableOrRefusingRegisterSaysSo()
    {
        // A list that cannot be read is an error and no rows, never an empty register.
        for (const auto& [table, title] : QList<QPair<QString, QString>>{
                 {"Staff", "人员信息查询"}, {"Department", "部门信息查询"}, {"Device", "设备信息查询"}}) {
            init();
            open(table);
            QVERIFY(rows() > 0 && ws->sabotage("drop", table));
            ModalScript script;
            script.boxStarting(title, "无法读取登记表", QMessageBox::Ok, list.get());
            click(list.get(), "btnSearch");
            ANSWERED(script);
            QVERIFY(!child<QTableView>(list.get(), "tableView")->model());
        }
        // A department the store refuses to delete stays, and the officer is told.
        init();
        QVERIFY(ws->exec("insert into Department(department) values('空科')"));
        open("Department");
        QVERIFY(ws->sabotage("delete", "Department"));
        ModalScript refused;
        refused.box("删除部门", "确定删除部门“空科”吗？", QMessageBox::Yes, list.get());
        press("btnDel", refused.box("删除部门", "删除部门失败，登记未改变。", QMessageBox::Ok, list.get()), "空科");
        QCOMPARE(ws->count("Department"), 4);
        QCOMPARE(rows(), 4);
    }

    void staffDeleteAsksWhatGoes()
    {
        const QString history("select count(*) from (select slaveId from Realdata union all select slaveId from "
                              "Monthdata union all select slaveId from Yeardata union all select slaveId from "
                              "SeqYeardata) t where slaveId = ");
        for (const auto& [card, answer, left] : QList<std::tuple<QString, int, QString>>{ // staff; rows of 7 and 8
                 {"110", QMessageBox::Yes, "3 4 4"}, {"110", QMessageBox::No, "3 0 4"}, // yes keeps the history
                 {"110", Qt::Key_Escape, "4 4 4"}, {"110", QMessageBox::NoButton, "4 4 4"}, // no answer: nothing
                 {"140", QMessageBox::No, "3 4 4"}}) { // no device: the person only
            init();
            open("Staff");
            ModalScript script;
            script.expect("询问", [](QWidget* d) { // Yes and No, Yes the default
                auto* b = qobject_cast<QMessageBox*>(d);
                return b->defaultButton() == b->button(QMessageBox::Yes) && b->button(QMessageBox::No)->isVisible() ? "" : "?";
            });
            const QString name = card == "110" ? "张三" : "赵六"; // named with the card
            press("btnDel", script.boxStarting("询问", "删除人员 " + name + "（身份证号 " + card + "）？", answer), card);
            QCOMPARE(QString("%1 %2 %3").arg(ws->count("Staff")).arg(text(history + '7'), text(history + '8')), left);
        }
    }

    void staffCardsAndPhotos()
    {
        QVERIFY(ws->exec("update Staff set photo = 'photo-a', gender = '女', ptype = 1, department = '核医学科' where id = 1"));
        ws->addDevice(11, "X9"); // left by a deleted person
        QFile file("a.png"); // the chosen photo, in the working directory
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("\x89PNG pic") == 8 && file.flush());
        open("Staff");
        ModalScript script;
        script.expect("添加人员信息", fill("Id_card=  ", "btnAdd")).box("添加人员", "身份证号不能为空!");
        script.expect("添加人员信息", fill("Id_card=110", "btnAdd")).box("添加人员", "身份证号已存在!").expect("添加人员信息", fill("", "photo"));
        press("btnAdd", script.expect("添加人员信息", fill("Id_card=150;Name=钱七;Gender=女;Depart=检验科;Teleno=555;Adress=北路;"
                                                           "type_cmb=非职业人员", "btnAdd")));
        press("btnAdd", script.expect("添加人员信息", fill("Id_card=160", "btnAdd", "Id_card,Name="))); // starts empty, no photo
        QCOMPARE(text("select name||gender||ptype||cast(totalValue as integer)||department||teleNo||adress||length(photo)||' '||"
                      "(select coalesce(length(photo), 0) from Staff where ID_card = '160') from Staff where ID_card = '150'"),
                 QString("钱七女10检验科555北路8 0"));

        script.expect("修改人员信息", fill("Id_card=", "btnMod", "Depart,Gender,cbm_type=核医学科女非职业人员"));
        script.box("修改人员", "身份证号不能为空!").expect("修改人员信息", fill("Id_card=120", "btnMod"));
        script.box("修改人员", "身份证号已存在!").expect("修改人员信息", fill("Id_card=X9", "btnMod"));
        script.box("修改人员", "身份证号已绑定其他设备!").expect("修改人员信息", fill("Id_card=111;Name=张三丰", "btnMod"));
        press("btnModify", script, "110");
        QCOMPARE(text("select name from Staff where id = 1") + ws->value("select photo from Staff where id = 1").toByteArray(),
                 QString("张三丰photo-a"));
        QCOMPARE(text("select slaveId||ID_card from Device order by id"), QString("7111,8120,9130,11X9"));
        press("btnModify", script.expect("修改人员信息", fill("", "photo")).expect("修改人员信息", fill("", "btnQuit")), "111");
        press("btnModify", script.expect("修改人员信息", fill("", "btnMod")), "120");
        press("btnModify", script.expect("修改人员信息", fill("", "photo")).expect("修改人员信息", fill("", "btnMod")), "111");
        QCOMPARE(text("select coalesce(length(photo), 0) from Staff where id < 3 order by id"), QString("8,0")); // 111, 120
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
        QCOMPARE(text("select slaveId||ID_card from Device order by id"), QString("7110,8120,9130,11X9"));
        Departdata department{9, "新名", ""};
        QVERIFY(!ws->store->updateDepartmentAndStaff(department, ws->db)); // no such row: nothing changes
        QVERIFY(!ws->store->selectDepartmentByName(department, "\"核医学科\"", ws->db));
        QCOMPARE(text("select count(*) from Staff where department = '新名'"), QString("0"));
    }

    void devicesBindOnceToWholeSixteenBitAddresses()
    {
        open("Device");
        ModalScript script;
        script.expect("添加设备信息", fill("Name=140;device=8", "btnAdd")).box("添加设备", "设备ID已绑定!");
        for (const char* bad : {"", "abc", "1.5", "0x10", "65536", "-1"}) // the dialog stays open
            script.expect("添加设备信息", fill(QString("device=") + bad, "btnAdd")).box("添加设备", "设备号无效!");
        press("btnAdd", script.expect("添加设备信息", fill("device= 0 ", "btnAdd")));
        press("btnAdd", script.expect("添加设备信息", fill("Name=140;device=13", "btnAdd")).box("添加设备", "设备已添加，请进入修改界面!"));
        QCOMPARE(rows(), 4);

        press("btnModify", script.expect("修改设备信息", fill("", "btnMod", "Name,device=1107")), "7"); // no clash
        script.expect("修改设备信息", fill("device=8", "btnMod")).box("修改设备", "设备ID已绑定!");
        script.expect("修改设备信息", fill("device=x", "btnMod")).box("修改设备", "设备号无效!");
        press("btnModify", script.expect("修改设备信息", fill("device=65535", "btnMod")), "7");
        QCOMPARE(text("select slaveId||ID_card from Device order by id"), QString("65535110,8120,9130,0140"));
        QVERIFY(ws->exec("delete from Staff")); // nobody to bind to
        press("btnAdd", script.expect("添加设备信息", fill("device=3", "btnAdd")).box("添加设备", "身份证号不能为空!")
                            .expect("添加设备信息", fill("", "btnQuit")));
    }

    void departmentNamesAreGivenUniqueAndTakeTheirStaffAlong()
    {
        open("Department");
        ModalScript script;
        script.expect("添加部门信息", fill("depart= ;depart_name=x", "btnAdd")).box("添加部门", "部门名称不能为空!");
        script.expect("添加部门信息", fill("depart=放射科", "btnAdd")).box("添加部门", "部门已存在!");
        press("btnAdd", script.expect("添加部门信息", fill("depart=O'Brien 实验室;depart_name=李主任", "btnAdd")));
        QCOMPARE(rows(), 4);
        QCOMPARE(text("select dname from Department where department = 'O''Brien 实验室'"), QString("李主任"));
        // Each opening starts empty, also after an entry that was refused.
        script.expect("添加部门信息", fill("depart=放射科", "btnAdd", "depart,depart_name=")).box("添加部门", "部门已存在!");
        press("btnAdd", script.expect("添加部门信息", fill("", "btnQuit")));
        press("btnAdd", script.expect("添加部门信息", fill("", "btnQuit", "depart,depart_name=")));
        // Only a department without staff goes, and only when confirmed.
        press("btnDel", script.box("删除部门", "部门“放射科”还有 2 名人员，不能删除。\n请先把他们调到其他部门或删除。",
                                   QMessageBox::Ok, list.get()), "放射科");
        for (const int answer : {int(QMessageBox::No), int(QMessageBox::Yes)}) {
            press("btnDel", script.box("删除部门", "确定删除部门“O'Brien 实验室”吗？", answer, list.get()), "O'Brien 实验室");
            QCOMPARE(ws->count("Department"), answer == QMessageBox::Yes ? 3 : 4);
        }
        script.expect("修改部门信息", fill("depart=", "btnMod", "depart,depart_name=放射科甲"));
        script.box("修改部门", "部门名称不能为空!").expect("修改部门信息", fill("depart=核医学科", "btnMod"));
        press("btnModify", script.box("修改部门", "部门已存在!").expect("修改部门信息", fill("depart=影像科;depart_name=丁", "btnMod")), "放射科");
        QCOMPARE(text("select ID_card||department from Staff order by id"), QString("110影像科,120影像科,130核医学科,140检验科"));
        press("btnModify", script.expect("修改部门信息", fill("depart_name=戊", "btnMod")), "影像科"); // head only
        QCOMPARE(text("select department||dname from Department where id = 1"), QString("影像科戊"));
    }
};

QTEST_MAIN(TestRegister)
#include "tst_register.moc"
