// Department list, add and modify dialogs driven through their widgets on
// a scratch database; the modal windows are answered from timers.

#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QTableView>

#include "records/AddDepart.h"
#include "records/DepartInfo.h"
#include "records/ModDepart.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

class TestDepartDialogs : public QObject, private FormDriver
{
    Q_OBJECT

    static int addDepartment(ScratchDatabase& ws, const QString& name, const QString& head = QStringLiteral("甲"))
    {
        ws.exec("insert into Department(department,dname) values(?,?)", {name, head});
        return ws.value("select max(id) from Department").toInt();
    }
    static ModalScript::Action enter(const QString& name, const QString& head, const char* ok)
    {
        return [=](QWidget* d) {
            child<QLineEdit>(d, "depart")->setText(name);
            child<QLineEdit>(d, "depart_name")->setText(head);
            click(d, ok);
            return QString();
        };
    }

private slots:
    // The titles the scripts find the windows by and the named connections.
    void forms_titlesAndConnections()
    {
        ScratchDatabase ws;
        DepartInfo list(nullptr, nullptr, ws.store.get());
        auto* add = list.findChild<AddDepart*>();
        auto* mod = list.findChild<ModDepart*>();
        QVERIFY(add && mod);
        QCOMPARE(list.windowTitle() + add->windowTitle() + mod->windowTitle(),
                 QStringLiteral("部门信息查询添加部门信息修改部门信息"));
        for (const char* conn : {"depart.db", "AddDepart", "Modstaff.db"})
            QVERIFY2(QSqlDatabase::contains(QLatin1String(conn)), conn);
    }

    void addAndSearch_boundFilterAndNameRules()
    {
        ScratchDatabase ws;
        addDepartment(ws, QStringLiteral("放射科"));
        DepartInfo list(nullptr, nullptr, ws.store.get());
        ModalScript script;
        script.expect("添加部门信息", enter(" ", "x", "btnAdd"))
            .box("添加部门", QStringLiteral("部门名称不能为空!"))
            .expect("添加部门信息", enter(QStringLiteral("放射科"), "x", "btnAdd"))
            .box("添加部门", QStringLiteral("部门已存在!"))
            .expect("添加部门信息", enter(QStringLiteral("O'Brien 实验室"), QStringLiteral("李主任"), "btnAdd"));
        click(&list, "btnAdd");
        ANSWERED(script);
        QCOMPARE(ws.value("select group_concat(department||dname) from Department").toString(),
                 QStringLiteral("放射科甲,O'Brien 实验室李主任"));

        auto* view = child<QTableView>(&list, "tableView");
        QCOMPARE(view->model()->rowCount(), 2);
        QCOMPARE(view->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("部门主管"));
        QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("部门号"));
        QVERIFY(view->isColumnHidden(0));
        child<QLineEdit>(&list, "le_dep")->setText(QStringLiteral("'"));
        click(&list, "btnSearch");
        QCOMPARE(view->model()->rowCount(), 1);
        QCOMPARE(view->model()->index(0, 1).data().toString(), QStringLiteral("O'Brien 实验室"));
    }

    void modify_renameTakesItsStaffAlong()
    {
        ScratchDatabase ws;
        const int id = addDepartment(ws, QStringLiteral("放射科"));
        addDepartment(ws, QStringLiteral("其他科"));
        ws.addPerson("1", QStringLiteral("张三"), QStringLiteral("放射科"));
        ws.addPerson("2", QStringLiteral("李四"), QStringLiteral("放射科"));
        ws.addPerson("3", QStringLiteral("王五"), QStringLiteral("其他科"));
        DepartInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(child<QTableView>(&list, "tableView"), QStringLiteral("放射科"));

        ModalScript script;
        script.expect("修改部门信息", [](QWidget* d) {
                  const bool loaded = child<QLineEdit>(d, "depart")->text() == QStringLiteral("放射科")
                                      && child<QLineEdit>(d, "depart_name")->text() == QStringLiteral("甲");
                  enter("", "x", "btnMod")(d);
                  return loaded ? QString() : QStringLiteral("not loaded");
              })
            .box("修改部门", QStringLiteral("部门名称不能为空!"))
            .expect("修改部门信息", enter(QStringLiteral("其他科"), "x", "btnMod"))
            .box("修改部门", QStringLiteral("部门已存在!"))
            .expect("修改部门信息", enter(QStringLiteral("影像科"), QStringLiteral("丙"), "btnMod"));
        click(&list, "btnModify");
        ANSWERED(script);
        QCOMPARE(ws.value("select department||dname from Department where id = ?", {id}).toString(),
                 QStringLiteral("影像科丙"));
        QCOMPARE(ws.value("select group_concat(ID_card||department) from Staff").toString(),
                 QStringLiteral("1影像科,2影像科,3其他科"));

        // The name kept, only the head changed: accepted.
        ModalScript head;
        head.expect("修改部门信息", enter(QStringLiteral("影像科"), QStringLiteral("丁"), "btnMod"));
        click(&list, "btnModify");
        ANSWERED(head);
        QCOMPARE(ws.value("select dname from Department where id = ?", {id}).toString(), QStringLiteral("丁"));
    }

    void delete_leavesStaffAndEndsTheSelection()
    {
        ScratchDatabase ws;
        const int first = addDepartment(ws, QStringLiteral("放射科"));
        const int other = addDepartment(ws, QStringLiteral("其他科"));
        addDepartment(ws, QStringLiteral("末科"));
        ws.addPerson("1", QStringLiteral("张三"), QStringLiteral("末科"));
        DepartInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = child<QTableView>(&list, "tableView");
        const auto expectNoSelection = [&](const char* button) {
            ModalScript script;
            script.box("Done", QStringLiteral(" 请选择一条数据"), QMessageBox::Ok, &list);
            click(&list, button);
            ANSWERED(script);
            QCOMPARE(view->model()->rowCount(), ws.value("select count(*) from Department").toInt());
        };
        expectNoSelection("btnDel");

        // Deleted behind the list's back.
        clickRow(view, QStringLiteral("放射科"));
        ws.value("delete from Department where id = ?", {first});
        expectNoSelection("btnModify");

        // Deleted here: the staff keep their department text, the selection ends.
        clickRow(view, QStringLiteral("末科"));
        click(&list, "btnDel");
        QCOMPARE(ws.value("select department from Staff").toString(), QStringLiteral("末科"));
        QVERIFY(addDepartment(ws, QStringLiteral("新科")) > other); // takes the deleted id
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");
        QCOMPARE(ws.value("select group_concat(department) from Department").toString(),
                 QStringLiteral("其他科,新科"));
    }

    void updateDepartmentAndStaff_missingRowChangesNothing()
    {
        ScratchDatabase ws;
        const int id = addDepartment(ws, QStringLiteral("放射科"));
        ws.addPerson("1", QStringLiteral("张三"), QStringLiteral("放射科"));
        Departdata gone{id + 1, QStringLiteral("影像科"), QString()};
        QVERIFY(!ws.store->updateDepartmentAndStaff(gone, ws.db));
        QCOMPARE(ws.value("select department from Staff").toString(), QStringLiteral("放射科"));

        Departdata found;
        QVERIFY(ws.store->selectDepartmentByName(found, QStringLiteral("放射科"), ws.db));
        QCOMPARE(found.id, id);
        QVERIFY(!ws.store->selectDepartmentByName(found, QStringLiteral("\"放射科\""), ws.db));
    }
};

QTEST_MAIN(TestDepartDialogs)
#include "tst_departdialogs.moc"
