// Staff list, add and modify dialogs driven through their widgets on a
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
#include "records/AddStaff.h"
#include "records/Infomation.h"
#include "records/ModifyStaff.h"

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

class TestStaffDialogs : public QObject
{
    Q_OBJECT

    QString chosenPhoto;

    // One dose row in each of the four tables, filed under slaveId.
    static void addHistory(const QSqlDatabase& db, int slaveId)
    {
        for (const char* table : {"Realdata", "Monthdata", "Yeardata", "SeqYeardata"})
            value(db, QStringLiteral("insert into %1(slaveId,dataTime,probeValue) values(?,'20240101000000',1)")
                          .arg(QLatin1String(table)), {slaveId});
    }
    static int history(const QSqlDatabase& db, int slaveId)
    {
        int n = 0;
        for (const char* table : {"Realdata", "Monthdata", "Yeardata", "SeqYeardata"})
            n += value(db, QStringLiteral("select count(*) from %1 where slaveId = ?").arg(QLatin1String(table)),
                       {slaveId}).toInt();
        return n;
    }
    static ModalScript::Action enter(const QString& card, const char* ok)
    {
        return [=](QWidget* d) {
            w<QLineEdit>(d, "Id_card")->setText(card);
            click(d, ok);
            return QString();
        };
    }

private slots:
    void initTestCase() { AddStaff::imageChooser = [this](QWidget*) { return chosenPhoto; }; }
    void init() { chosenPhoto.clear(); }

    void forms_carryTheirNamesAndTexts()
    {
        Workspace ws;
        Infomation list(nullptr, nullptr, ws.store.get());
        auto* add = list.findChild<AddStaff*>();
        auto* mod = list.findChild<ModifyStaff*>();
        QVERIFY(add && mod);
        QCOMPARE(list.windowTitle() + add->windowTitle() + mod->windowTitle(),
                 QStringLiteral("人员信息查询添加人员信息修改人员信息"));
        checkTexts(&list, {{"label_2", "姓名查询："}, {"btnAdd", "添加"}, {"btnModify", "修改"},
                           {"btnDel", "删除"}, {"btnSearch", "查询"}, {"btnQuit", "退出"}, {"le_name", ""}});
        checkTexts(add, {{"label_4", "身份证号"}, {"label", "类别"}, {"btnAdd", "确认"}, {"type_cmb", "职业人员"}});
        checkTexts(mod, {{"label_4", "人员身份证号"}, {"label_11", "类别"}, {"btnMod", "确认"}, {"cbm_type", "职业人员"}});
        for (QWidget* d : {static_cast<QWidget*>(add), static_cast<QWidget*>(mod)}) {
            checkTexts(d, {{"label_5", "人员姓名"}, {"label_6", "人员性别"}, {"label_7", "部门"}, {"label_8", "联系方式"},
                           {"label_9", "地址"}, {"label_2", "照片"}, {"photo", "选择"}, {"btnQuit", "取消"},
                           {"Id_card", ""}, {"Name", ""}, {"Teleno", ""}, {"Adress", ""}, {"Gender", "男"}});
            QCOMPARE(w<QComboBox>(d, "Gender")->itemText(1), QStringLiteral("女"));
            QVERIFY(w<QComboBox>(d, "Depart"));
        }
        QCOMPARE(w<QComboBox>(add, "type_cmb")->itemText(1), QStringLiteral("非职业人员"));
        for (const char* conn : {"Search.db", "Addstaff.db", "Modstaff.db"})
            QVERIFY2(QSqlDatabase::contains(QLatin1String(conn)), conn);
    }

    void search_boundFilterAndEveryRow()
    {
        Workspace ws;
        ws.db.transaction();
        for (const char* name : {"张三", "O'Neil", "张四"})
            addPerson(ws.db, QString::fromUtf8(name), QString::fromUtf8(name));
        for (int i = 0; i < 600; ++i)
            addPerson(ws.db, QString::number(i), QStringLiteral("人员%1").arg(i));
        ws.db.commit();
        Infomation list(nullptr, nullptr, ws.store.get());
        auto* view = w<QTableView>(&list, "tableView");
        QCOMPARE(view->model(), nullptr);
        click(&list, "btnSearch");
        // Every row, though the connection closed after the search.
        QCOMPARE(view->model()->rowCount(), 603);
        QCOMPARE(view->model()->index(602, 2).data().toString(), QStringLiteral("人员599"));
        QCOMPARE(view->model()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("住址"));
        QVERIFY(view->isColumnHidden(0) && !view->isColumnHidden(1));

        const QList<QPair<QString, int>> filters = {{"O'", 1}, {"张", 2}, {"'; drop table Staff; --", 0}};
        for (const auto& f : filters) {
            w<QLineEdit>(&list, "le_name")->setText(f.first);
            click(&list, "btnSearch");
            QCOMPARE(view->model()->rowCount(), f.second);
        }
        QCOMPARE(value(ws.db, "select count(*) from Staff").toInt(), 603);
    }

    void selection_missingOrDeletedAsksForOne()
    {
        Workspace ws;
        const int first = addPerson(ws.db, "110", QStringLiteral("张三"));
        addPerson(ws.db, "120", QStringLiteral("李四"));
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = w<QTableView>(&list, "tableView");
        const auto expectNoSelection = [&](const char* button) {
            ModalScript script;
            script.box("Done", QStringLiteral(" 请选择一条数据"), QMessageBox::Ok, &list);
            click(&list, button);
            ANSWERED(script);
            QCOMPARE(view->model()->rowCount(), value(ws.db, "select count(*) from Staff").toInt());
        };
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");

        // Deleted behind the list's back.
        clickRow(view, "110");
        value(ws.db, "delete from Staff where id = ?", {first});
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");

        // Deleted here; the next person added gets the same id again.
        click(&list, "btnSearch");
        clickRow(view, "120");
        ModalScript answer;
        answer.box("询问", QStringLiteral("是否保留人员历史数据"), QMessageBox::Yes);
        click(&list, "btnDel");
        ANSWERED(answer);
        const int reused = addPerson(ws.db, "130", QStringLiteral("王五"));
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");
        QCOMPARE(value(ws.db, "select name from Staff where id = ?", {reused}).toString(), QStringLiteral("王五"));
    }

    void delete_answerDecidesWhatGoes_data()
    {
        QTest::addColumn<QString>("card");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("staffLeft");
        QTest::addColumn<int>("historyLeft");
        QTest::newRow("yes keeps history") << "110" << int(QMessageBox::Yes) << 2 << 4;
        QTest::newRow("no deletes history") << "110" << int(QMessageBox::No) << 2 << 0;
        QTest::newRow("escape deletes nothing") << "110" << int(Qt::Key_Escape) << 3 << 4;
        QTest::newRow("closing deletes nothing") << "110" << int(QMessageBox::NoButton) << 3 << 4;
        QTest::newRow("no device: only the person") << "130" << int(QMessageBox::No) << 2 << 4;
    }
    void delete_answerDecidesWhatGoes()
    {
        QFETCH(QString, card);
        QFETCH(int, answer);
        QFETCH(int, staffLeft);
        QFETCH(int, historyLeft);
        Workspace ws;
        addPerson(ws.db, "110", QStringLiteral("张三"));
        addPerson(ws.db, "120", QStringLiteral("李四"));
        addPerson(ws.db, "130", QStringLiteral("王五"));
        addDevice(ws.db, 7, "110");
        addDevice(ws.db, 8, "120");
        addHistory(ws.db, 7);
        addHistory(ws.db, 8);
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(w<QTableView>(&list, "tableView"), card);

        ModalScript script;
        script.expect("询问", [](QWidget* d) {
            auto* b = qobject_cast<QMessageBox*>(d);
            return b->defaultButton() == b->button(QMessageBox::Yes) && b->button(QMessageBox::No)->isVisible()
                       ? QString() : QStringLiteral("not a Yes/No question with Yes as default");
        });
        script.box("询问", QStringLiteral("是否保留人员历史数据"), answer);
        click(&list, "btnDel");
        ANSWERED(script);
        QCOMPARE(value(ws.db, "select count(*) from Staff").toInt(), staffLeft);
        QCOMPARE(history(ws.db, 7), historyLeft);
        QCOMPARE(history(ws.db, 8), 4);
        QCOMPARE(value(ws.db, "select count(*) from Device").toInt(), 2);
        QCOMPARE(w<QTableView>(&list, "tableView")->model()->rowCount(), staffLeft);
    }

    void add_checksTheIdCardAndForgetsThePhoto()
    {
        Workspace ws;
        value(ws.db, "insert into Department(department,dname) values('放射科','甲'),('核医学科','乙')");
        addPerson(ws.db, "100", QStringLiteral("张三"));
        const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff", 17);
        QFile file("a.png");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png) == png.size());
        file.close();
        Infomation list(nullptr, nullptr, ws.store.get());

        ModalScript script;
        script.expect("添加人员信息", enter("  ", "btnAdd"))
            .box("添加人员", QStringLiteral("身份证号不能为空!"))
            .expect("添加人员信息", enter("100", "btnAdd"))
            .box("添加人员", QStringLiteral("身份证号已存在!"))
            .expect("添加人员信息", [&](QWidget* d) {
                if (w<QComboBox>(d, "Depart")->count() != 2)
                    return QStringLiteral("departments not listed");
                w<QLineEdit>(d, "Name")->setText(QStringLiteral("王五"));
                w<QComboBox>(d, "Gender")->setCurrentIndex(1);
                w<QComboBox>(d, "Depart")->setCurrentIndex(1);
                w<QLineEdit>(d, "Teleno")->setText("555");
                w<QLineEdit>(d, "Adress")->setText(QStringLiteral("北路"));
                w<QComboBox>(d, "type_cmb")->setCurrentIndex(1);
                chosenPhoto = QFileInfo(file).absoluteFilePath();
                click(d, "photo");
                return enter("110", "btnAdd")(d);
            });
        click(&list, "btnAdd");
        ANSWERED(script);
        QCOMPARE(value(ws.db, "select count(*) from Staff").toInt(), 2);
        QCOMPARE(value(ws.db, "select name||gender||ptype||totalValue||department||teleNo||adress from Staff "
                              "where ID_card = '110'").toString(),
                 QStringLiteral("王五女10.0核医学科555北路"));
        QCOMPARE(value(ws.db, "select photo from Staff where ID_card = '110'").toByteArray(), png);
        QCOMPARE(w<QTableView>(&list, "tableView")->model()->rowCount(), 2);

        // The next person keeps the typed inputs but not the photo.
        ModalScript again;
        again.expect("添加人员信息", [](QWidget* d) {
            const bool kept = w<QLineEdit>(d, "Name")->text() == QStringLiteral("王五");
            enter("120", "btnAdd")(d);
            return kept ? QString() : QStringLiteral("inputs not kept");
        });
        click(&list, "btnAdd");
        ANSWERED(again);
        QCOMPARE(value(ws.db, "select length(ifnull(photo,'')) from Staff where ID_card = '120'"), QVariant(0));
    }

    void modify_keepsOrReplacesThePhoto()
    {
        Workspace ws;
        value(ws.db, "insert into Department(department,dname) values('放射科','甲'),('核医学科','乙')");
        const int a = addPerson(ws.db, "110", QStringLiteral("张三"), QStringLiteral("核医学科"), "photo-a");
        const int b = addPerson(ws.db, "120", QStringLiteral("李四"), QStringLiteral("放射科"), "photo-b");
        value(ws.db, "update Staff set gender = '女', ptype = 1 where id = ?", {a});
        QFile file("b.jpg");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("\xff\xd8\xff jpeg") == 8);
        file.close();
        const QString other = QFileInfo(file).absoluteFilePath();
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = w<QTableView>(&list, "tableView");
        click(&list, "btnSearch");
        const auto modify = [&](const QString& card, const ModalScript::Action& act) {
            clickRow(view, card);
            ModalScript script;
            script.expect("修改人员信息", act);
            click(&list, "btnModify");
            ANSWERED(script);
        };

        modify("110", [](QWidget* d) {
            const bool loaded = w<QComboBox>(d, "Depart")->currentText() == QStringLiteral("核医学科")
                                && w<QComboBox>(d, "Gender")->currentIndex() == 1
                                && w<QComboBox>(d, "cbm_type")->currentIndex() == 1
                                && w<QLineEdit>(d, "Id_card")->text() == "110";
            w<QLineEdit>(d, "Name")->setText(QStringLiteral("张三丰"));
            click(d, "btnMod");
            return loaded ? QString() : QStringLiteral("not loaded");
        });
        QCOMPARE(value(ws.db, "select name||department||photo from Staff where id = ?", {a}).toString(),
                 QStringLiteral("张三丰核医学科photo-a"));

        // A photo chosen and then cancelled does not reach the next person.
        modify("110", [&](QWidget* d) {
            chosenPhoto = other;
            click(d, "photo");
            click(d, "btnQuit");
            return QString();
        });
        chosenPhoto.clear();
        modify("120", [](QWidget* d) {
            click(d, "btnMod");
            return QString();
        });
        QCOMPARE(value(ws.db, "select photo from Staff where id = ?", {b}).toString(), QStringLiteral("photo-b"));

        chosenPhoto = other;
        modify("120", [](QWidget* d) {
            click(d, "photo");
            click(d, "btnMod");
            return QString();
        });
        QCOMPARE(value(ws.db, "select photo from Staff where id = ?", {b}).toByteArray(), QByteArray("\xff\xd8\xff jpeg"));
    }

    void modify_idCardRulesAndTheDeviceFollows()
    {
        Workspace ws;
        const int a = addPerson(ws.db, "110", QStringLiteral("张三"));
        addPerson(ws.db, "120", QStringLiteral("李四"));
        addDevice(ws.db, 5, "110");
        addDevice(ws.db, 9, "X9"); // left behind by a deleted person
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(w<QTableView>(&list, "tableView"), "110");

        ModalScript refused;
        refused.expect("修改人员信息", enter("", "btnMod"))
            .box("修改人员", QStringLiteral("身份证号不能为空!"))
            .expect("修改人员信息", enter("120", "btnMod"))
            .box("修改人员", QStringLiteral("身份证号已存在!"))
            .expect("修改人员信息", enter("X9", "btnMod"))
            .box("修改人员", QStringLiteral("身份证号已绑定其他设备!"))
            .expect("修改人员信息", enter("110", "btnQuit"));
        click(&list, "btnModify");
        ANSWERED(refused);
        QCOMPARE(value(ws.db, "select ID_card from Staff where id = ?", {a}).toString(), QStringLiteral("110"));

        ModalScript moved;
        moved.expect("修改人员信息", enter("111", "btnMod"));
        click(&list, "btnModify");
        ANSWERED(moved);
        QCOMPARE(value(ws.db, "select ID_card from Staff where id = ?", {a}).toString(), QStringLiteral("111"));
        QCOMPARE(value(ws.db, "select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("5111,9X9"));
    }

    void updateStaffAndDevice_changesAllOrNothing()
    {
        Workspace ws;
        const int a = addPerson(ws.db, "110", QStringLiteral("张三"));
        const int twin = addPerson(ws.db, "110", QStringLiteral("张三"));
        addDevice(ws.db, 5, "110");
        addDevice(ws.db, 9, "X9");
        Staffdata person, other;
        QVERIFY(ws.store->selectStaffById(person, a, ws.db) && ws.store->selectStaffById(other, twin, ws.db));

        // A card still held by someone else keeps its device there.
        person.ID_card = "111";
        QVERIFY(ws.store->updateStaffAndDevice(person, ws.db));
        // Device 5 brought to a card that has device 9 already: refused whole.
        other.ID_card = "X9";
        other.name = QStringLiteral("改名");
        QVERIFY(!ws.store->updateStaffAndDevice(other, ws.db));
        QCOMPARE(value(ws.db, "select name from Staff where id = ?", {twin}).toString(), QStringLiteral("张三"));
        // A person deleted meanwhile: nothing moves.
        value(ws.db, "delete from Staff where id = ?", {twin});
        other.ID_card = "112";
        QVERIFY(!ws.store->updateStaffAndDevice(other, ws.db));
        QCOMPARE(value(ws.db, "select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("5110,9X9"));
        QCOMPARE(value(ws.db, "select count(*) from Staff").toInt(), 1);
    }
};

QTEST_MAIN(TestStaffDialogs)
#include "tst_staffdialogs.moc"
