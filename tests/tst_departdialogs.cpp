// Department list, add and modify dialogs driven through their widgets on
// a scratch database; the modal windows are answered from timers.

#include <QtTest>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "db/DataBase.h"
#include "records/AddDepart.h"
#include "records/DepartInfo.h"
#include "records/ModDepart.h"

namespace {

// Answers the modal windows a test expects, in order, from timers. A window
// that does not come in time, or one nobody expected, is noted and closed, so
// no test waits on a human. The newest script of a test is the one answering.
class ModalScript : public QObject
{
public:
    using Action = std::function<QString(QWidget*)>; // empty text: as expected

    ModalScript()
    {
        current() = this;
        QTimer::singleShot(0, this, &ModalScript::poll);
    }
    ~ModalScript() override
    {
        if (current() == this)
            current() = nullptr;
    }
    ModalScript& expect(const QString& title, Action act)
    {
        steps.append({title, std::move(act)});
        clock.restart();
        return *this;
    }
    // Checks a message box's text and parent, then clicks button
    // (Qt::Key_Escape presses Escape, QMessageBox::NoButton closes the window).
    ModalScript& box(const QString& title, const QString& text, int button = QMessageBox::Ok,
                     QWidget* parent = nullptr)
    {
        return expect(title, [=](QWidget* w) {
            auto* b = qobject_cast<QMessageBox*>(w);
            if (!b)
                return QStringLiteral("not a message box");
            const bool as = b->text() == text && b->parentWidget() == parent;
            if (button == Qt::Key_Escape)
                QTest::keyClick(b, Qt::Key_Escape);
            else if (button == QMessageBox::NoButton)
                b->close();
            else
                b->button(QMessageBox::StandardButton(button))->click();
            return as ? QString() : QStringLiteral("box '%1'").arg(b->text());
        });
    }
    bool clean() const { return steps.isEmpty() && problems.isEmpty(); }
    QByteArray report() const
    {
        QStringList all = problems;
        for (const auto& s : steps)
            all << QStringLiteral("never came: ") + s.first;
        return all.join(QStringLiteral("; ")).toUtf8();
    }

private:
    static ModalScript*& current()
    {
        static ModalScript* script = nullptr;
        return script;
    }
    void poll()
    {
        // Scheduled before acting: the action may run a nested event loop.
        QTimer::singleShot(10, this, &ModalScript::poll);
        QWidget* w = QApplication::activeModalWidget();
        if (current() != this || !w || !w->isVisible())
            return;
        if (!steps.isEmpty() && w->windowTitle() == steps.first().first) {
            const auto step = steps.takeFirst();
            clock.restart();
            const QString wrong = step.second(w);
            if (!wrong.isEmpty())
                problems << step.first + QStringLiteral(": ") + wrong;
        } else if (steps.isEmpty() || clock.elapsed() > 3000) {
            problems << QStringLiteral("unexpected window '%1'").arg(w->windowTitle());
            steps.clear();
            qobject_cast<QDialog*>(w) ? qobject_cast<QDialog*>(w)->done(0) : void(w->close());
        }
    }

    QList<QPair<QString, Action>> steps;
    QStringList problems;
    QElapsedTimer clock;
};

#define ANSWERED(script) QVERIFY2((script).clean(), (script).report().constData())

template <typename T = QWidget>
T* w(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

void click(QObject* parent, const char* name)
{
    QTest::mouseClick(w(parent, name), Qt::LeftButton);
}

// Clicks the row whose first visible column shows text, as the operator does.
void clickRow(QTableView* view, const QString& text)
{
    const QAbstractItemModel* m = view->model();
    for (int r = 0; r < m->rowCount(); ++r) {
        const QModelIndex cell = m->index(r, 1);
        if (cell.data().toString() == text)
            return QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell).center());
    }
    QFAIL("row not listed");
}

// Runs sql with values bound; the first column of the first row, if any.
QVariant value(const QSqlDatabase& db, const QString& sql, const QVariantList& values = {})
{
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q.exec() && q.next() ? q.value(0) : QVariant();
}

// A fresh working directory with its own "database.db" for every test.
struct Workspace
{
    Workspace()
    {
        QDir::setCurrent(dir.path());
        store = std::make_unique<DataBase>();
        store->createTables();
        store->createConnection(QStringLiteral("check.db"));
        db = store->getConnection(QStringLiteral("check.db"));
    }
    ~Workspace()
    {
        db = QSqlDatabase();
        store.reset();
        for (const QString& name : QSqlDatabase::connectionNames()) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
        QDir::setCurrent(start);
    }
    const QString start = QDir::currentPath();
    QTemporaryDir dir;
    std::unique_ptr<DataBase> store;
    QSqlDatabase db;
};

[[maybe_unused]] int addPerson(const QSqlDatabase& db, const QString& card, const QString& name,
                               const QString& department = QStringLiteral("放射科"), const QByteArray& photo = {})
{
    value(db, QStringLiteral("insert into Staff(ID_card,name,gender,ptype,totalValue,department,teleNo,adress,"
                             "photo) values(?,?,'男',0,1.5,?,'110','某路',?)"),
          {card, name, department, photo});
    return value(db, QStringLiteral("select max(id) from Staff")).toInt();
}

[[maybe_unused]] void addDevice(const QSqlDatabase& db, int slaveId, const QString& card)
{
    value(db, QStringLiteral("insert into Device(slaveId,ID_card,dataTime) values(?,?,'00000000000000')"),
          {slaveId, card});
}

// Checks the text (a combo box: the current text) of each named widget.
[[maybe_unused]] void checkTexts(QObject* form, const QList<QPair<const char*, QString>>& expected)
{
    for (const auto& e : expected) {
        QWidget* widget = w(form, e.first);
        QVERIFY2(widget, e.first);
        const QVariant text = widget->property("text");
        QCOMPARE((text.isValid() ? text : widget->property("currentText")).toString(), e.second);
    }
}

} // namespace

class TestDepartDialogs : public QObject
{
    Q_OBJECT

    static int addDepartment(const QSqlDatabase& db, const QString& name, const QString& head = QStringLiteral("甲"))
    {
        value(db, "insert into Department(department,dname) values(?,?)", {name, head});
        return value(db, "select max(id) from Department").toInt();
    }
    static ModalScript::Action enter(const QString& name, const QString& head, const char* ok)
    {
        return [=](QWidget* d) {
            w<QLineEdit>(d, "depart")->setText(name);
            w<QLineEdit>(d, "depart_name")->setText(head);
            click(d, ok);
            return QString();
        };
    }

private slots:
    void forms_carryTheirNamesAndTexts()
    {
        Workspace ws;
        DepartInfo list(nullptr, nullptr, ws.store.get());
        auto* add = list.findChild<AddDepart*>();
        auto* mod = list.findChild<ModDepart*>();
        QVERIFY(add && mod);
        QCOMPARE(list.windowTitle() + add->windowTitle() + mod->windowTitle(),
                 QStringLiteral("部门信息查询添加部门信息修改部门信息"));
        checkTexts(&list, {{"label_2", "部门查询"}, {"btnAdd", "添加"}, {"btnModify", "修改"}, {"btnDel", "删除"},
                           {"btnSearch", "查询"}, {"btnQuit", "退出"}, {"le_dep", ""}});
        checkTexts(add, {{"label", "部门名称"}, {"label_2", "部门主管"}, {"btnAdd", "确定"}, {"btnQuit", "取消"},
                         {"depart", ""}, {"depart_name", ""}});
        checkTexts(mod, {{"label_4", "部门名称"}, {"label_3", "部门主管"}, {"btnMod", "确定"}, {"btnQuit", "取消"},
                         {"depart", ""}, {"depart_name", ""}});
        for (const char* conn : {"depart.db", "AddDepart", "Modstaff.db"})
            QVERIFY2(QSqlDatabase::contains(QLatin1String(conn)), conn);
    }

    void addAndSearch_boundFilterAndNameRules()
    {
        Workspace ws;
        addDepartment(ws.db, QStringLiteral("放射科"));
        DepartInfo list(nullptr, nullptr, ws.store.get());
        ModalScript script;
        script.expect("添加部门信息", enter(" ", "x", "btnAdd"))
            .box("添加部门", QStringLiteral("部门名称不能为空!"))
            .expect("添加部门信息", enter(QStringLiteral("放射科"), "x", "btnAdd"))
            .box("添加部门", QStringLiteral("部门已存在!"))
            .expect("添加部门信息", enter(QStringLiteral("O'Brien 实验室"), QStringLiteral("李主任"), "btnAdd"));
        click(&list, "btnAdd");
        ANSWERED(script);
        QCOMPARE(value(ws.db, "select group_concat(department||dname) from Department").toString(),
                 QStringLiteral("放射科甲,O'Brien 实验室李主任"));

        auto* view = w<QTableView>(&list, "tableView");
        QCOMPARE(view->model()->rowCount(), 2);
        QCOMPARE(view->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("部门主管"));
        QCOMPARE(view->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("部门号"));
        QVERIFY(view->isColumnHidden(0));
        w<QLineEdit>(&list, "le_dep")->setText(QStringLiteral("'"));
        click(&list, "btnSearch");
        QCOMPARE(view->model()->rowCount(), 1);
        QCOMPARE(view->model()->index(0, 1).data().toString(), QStringLiteral("O'Brien 实验室"));
    }

    void modify_renameTakesItsStaffAlong()
    {
        Workspace ws;
        const int id = addDepartment(ws.db, QStringLiteral("放射科"));
        addDepartment(ws.db, QStringLiteral("其他科"));
        addPerson(ws.db, "1", QStringLiteral("张三"), QStringLiteral("放射科"));
        addPerson(ws.db, "2", QStringLiteral("李四"), QStringLiteral("放射科"));
        addPerson(ws.db, "3", QStringLiteral("王五"), QStringLiteral("其他科"));
        DepartInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(w<QTableView>(&list, "tableView"), QStringLiteral("放射科"));

        ModalScript script;
        script.expect("修改部门信息", [](QWidget* d) {
                  const bool loaded = w<QLineEdit>(d, "depart")->text() == QStringLiteral("放射科")
                                      && w<QLineEdit>(d, "depart_name")->text() == QStringLiteral("甲");
                  enter("", "x", "btnMod")(d);
                  return loaded ? QString() : QStringLiteral("not loaded");
              })
            .box("修改部门", QStringLiteral("部门名称不能为空!"))
            .expect("修改部门信息", enter(QStringLiteral("其他科"), "x", "btnMod"))
            .box("修改部门", QStringLiteral("部门已存在!"))
            .expect("修改部门信息", enter(QStringLiteral("影像科"), QStringLiteral("丙"), "btnMod"));
        click(&list, "btnModify");
        ANSWERED(script);
        QCOMPARE(value(ws.db, "select department||dname from Department where id = ?", {id}).toString(),
                 QStringLiteral("影像科丙"));
        QCOMPARE(value(ws.db, "select group_concat(ID_card||department) from Staff").toString(),
                 QStringLiteral("1影像科,2影像科,3其他科"));

        // The name kept, only the head changed: accepted.
        ModalScript head;
        head.expect("修改部门信息", enter(QStringLiteral("影像科"), QStringLiteral("丁"), "btnMod"));
        click(&list, "btnModify");
        ANSWERED(head);
        QCOMPARE(value(ws.db, "select dname from Department where id = ?", {id}).toString(), QStringLiteral("丁"));
    }

    void delete_leavesStaffAndEndsTheSelection()
    {
        Workspace ws;
        const int first = addDepartment(ws.db, QStringLiteral("放射科"));
        const int other = addDepartment(ws.db, QStringLiteral("其他科"));
        addDepartment(ws.db, QStringLiteral("末科"));
        addPerson(ws.db, "1", QStringLiteral("张三"), QStringLiteral("末科"));
        DepartInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = w<QTableView>(&list, "tableView");
        const auto expectNoSelection = [&](const char* button) {
            ModalScript script;
            script.box("Done", QStringLiteral(" 请选择一条数据"), QMessageBox::Ok, &list);
            click(&list, button);
            ANSWERED(script);
            QCOMPARE(view->model()->rowCount(), value(ws.db, "select count(*) from Department").toInt());
        };
        expectNoSelection("btnDel");

        // Deleted behind the list's back.
        clickRow(view, QStringLiteral("放射科"));
        value(ws.db, "delete from Department where id = ?", {first});
        expectNoSelection("btnModify");

        // Deleted here: the staff keep their department text, the selection ends.
        clickRow(view, QStringLiteral("末科"));
        click(&list, "btnDel");
        QCOMPARE(value(ws.db, "select department from Staff").toString(), QStringLiteral("末科"));
        QVERIFY(addDepartment(ws.db, QStringLiteral("新科")) > other); // takes the deleted id
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");
        QCOMPARE(value(ws.db, "select group_concat(department) from Department").toString(),
                 QStringLiteral("其他科,新科"));
    }

    void updateDepartmentAndStaff_missingRowChangesNothing()
    {
        Workspace ws;
        const int id = addDepartment(ws.db, QStringLiteral("放射科"));
        addPerson(ws.db, "1", QStringLiteral("张三"), QStringLiteral("放射科"));
        Departdata gone{id + 1, QStringLiteral("影像科"), QString()};
        QVERIFY(!ws.store->updateDepartmentAndStaff(gone, ws.db));
        QCOMPARE(value(ws.db, "select department from Staff").toString(), QStringLiteral("放射科"));

        Departdata found;
        QVERIFY(ws.store->selectDepartmentByName(found, QStringLiteral("放射科"), ws.db));
        QCOMPARE(found.id, id);
        QVERIFY(!ws.store->selectDepartmentByName(found, QStringLiteral("\"放射科\""), ws.db));
    }
};

QTEST_MAIN(TestDepartDialogs)
#include "tst_departdialogs.moc"
