// Device list, add and modify dialogs driven through their widgets on a
// scratch database; the modal windows are answered from timers.

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
#include "records/AddDevice.h"
#include "records/DeviceInfo.h"
#include "records/ModDevice.h"

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

class TestDeviceDialogs : public QObject
{
    Q_OBJECT

    static ModalScript::Action enter(const QString& address, const char* ok, const QString& card = {})
    {
        return [=](QWidget* d) {
            if (!card.isEmpty())
                w<QComboBox>(d, "Name")->setCurrentText(card);
            w<QLineEdit>(d, "device")->setText(address);
            click(d, ok);
            return QString();
        };
    }

private slots:
    void forms_carryTheirNamesAndTexts()
    {
        Workspace ws;
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        auto* add = list.findChild<AddDevice*>();
        auto* mod = list.findChild<ModDevice*>();
        QVERIFY(add && mod);
        QCOMPARE(list.windowTitle() + add->windowTitle() + mod->windowTitle(),
                 QStringLiteral("设备信息查询添加设备信息修改设备信息"));
        checkTexts(&list, {{"label_2", "设备查询"}, {"btnAdd", "添加"}, {"btnModify", "修改"}, {"btnDel", "删除"},
                           {"btnSearch", "查询"}, {"btnQuit", "退出"}, {"le_dev", ""}});
        checkTexts(add, {{"label", "设备号："}, {"label_2", "身份证号："}, {"btnAdd", "确定"}, {"btnQuit", "取消"},
                         {"device", ""}, {"Name", ""}});
        checkTexts(mod, {{"label", "设备号："}, {"label_2", "身份证号："}, {"btnMod", "确定"}, {"btnQuit", "取消"},
                         {"device", ""}, {"Name", ""}});
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
        Workspace ws;
        addPerson(ws.db, "110", QStringLiteral("张三"));
        addPerson(ws.db, "120", QStringLiteral("李四"));
        addDevice(ws.db, 5, "110");
        addDevice(ws.db, 6, "120");
        addDevice(ws.db, 7, "130"); // its person was deleted
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        auto* view = w<QTableView>(&list, "tableView");
        const auto search = [&](const QString& filter) {
            w<QLineEdit>(&list, "le_dev")->setText(filter);
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
        addPerson(ws.db, "130", QStringLiteral("王五"));
        QCOMPARE(search(""), 3);
    }

    void add_bindsOnceAndRefusesTakenOrInvalidAddresses()
    {
        Workspace ws;
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        ModalScript nobody;
        nobody.expect("添加设备信息", enter("3", "btnAdd"))
            .box("添加设备", QStringLiteral("身份证号不能为空!"))
            .expect("添加设备信息", enter("3", "btnQuit"));
        click(&list, "btnAdd");
        ANSWERED(nobody);

        addPerson(ws.db, "110", QStringLiteral("张三"));
        addPerson(ws.db, "120", QStringLiteral("李四"));
        addDevice(ws.db, 6, "120");
        ModalScript script;
        script.expect("添加设备信息", [](QWidget* d) {
            const bool listed = w<QComboBox>(d, "Name")->count() == 2;
            enter("6", "btnAdd", "110")(d);
            return listed ? QString() : QStringLiteral("cards not listed");
        });
        script.box("添加设备", QStringLiteral("设备ID已绑定!"));
        for (const char* bad : {"", "abc", "70000", "-1"})
            script.expect("添加设备信息", enter(QLatin1String(bad), "btnAdd")).box("添加设备", QStringLiteral("设备号无效!"));
        script.expect("添加设备信息", enter("12", "btnAdd"));
        click(&list, "btnAdd");
        ANSWERED(script);
        QCOMPARE(value(ws.db, "select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("6120,12110"));
        QCOMPARE(w<QTableView>(&list, "tableView")->model()->rowCount(), 2);

        // A second device for the same person: told to modify instead, dialog closed.
        ModalScript second;
        second.expect("添加设备信息", enter("13", "btnAdd", "110"))
            .box("添加设备", QStringLiteral("设备已添加，请进入修改界面!"));
        click(&list, "btnAdd");
        ANSWERED(second);
        QVERIFY(!list.findChild<AddDevice*>()->isVisible());
        QCOMPARE(value(ws.db, "select count(*) from Device").toInt(), 2);
    }

    void modify_acceptsItsOwnAddressAndRefusesOthers()
    {
        Workspace ws;
        addPerson(ws.db, "110", QStringLiteral("张三"));
        addPerson(ws.db, "120", QStringLiteral("李四"));
        addDevice(ws.db, 5, "110");
        addDevice(ws.db, 6, "120");
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(w<QTableView>(&list, "tableView"), "5");

        ModalScript script;
        script.expect("修改设备信息", [](QWidget* d) {
                  const bool loaded = w<QComboBox>(d, "Name")->count() == 1
                                      && w<QComboBox>(d, "Name")->currentText() == "110"
                                      && w<QLineEdit>(d, "device")->text() == "5";
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
        QCOMPARE(value(ws.db, "select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("15110,6120"));
    }

    void delete_removesOnlyTheBindingAndEndsTheSelection()
    {
        Workspace ws;
        addPerson(ws.db, "110", QStringLiteral("张三"));
        addPerson(ws.db, "120", QStringLiteral("李四"));
        addDevice(ws.db, 5, "110");
        addDevice(ws.db, 6, "120");
        value(ws.db, "insert into Realdata(slaveId,dataTime,probeValue) values(6,'20240101000000',2.0)");
        DeviceInfo list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = w<QTableView>(&list, "tableView");
        const auto expectNoSelection = [&](const char* button) {
            ModalScript script;
            script.box("Done", QStringLiteral(" 请选择一条数据"), QMessageBox::Ok, &list);
            click(&list, button);
            ANSWERED(script);
        };
        click(&list, "btnSearch");
        clickRow(view, "5");
        value(ws.db, "delete from Device where slaveId = 5"); // behind the list's back
        expectNoSelection("btnModify");
        QCOMPARE(view->model()->rowCount(), 1);

        clickRow(view, "6");
        click(&list, "btnDel");
        QCOMPARE(value(ws.db, "select count(*) from Device").toInt(), 0);
        QCOMPARE(value(ws.db, "select count(*) from Realdata where slaveId = 6").toInt(), 1);
        QCOMPARE(value(ws.db, "select count(*) from Staff").toInt(), 2);
        QCOMPARE(view->model()->rowCount(), 0);

        addDevice(ws.db, 9, "120"); // takes the deleted id
        expectNoSelection("btnDel");
        QCOMPARE(value(ws.db, "select count(*) from Device").toInt(), 1);
    }
};

QTEST_MAIN(TestDeviceDialogs)
#include "tst_devicedialogs.moc"
