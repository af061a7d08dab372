// Staff list, add and modify dialogs driven through their widgets on a
// scratch database; the modal windows are answered from timers.

#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "records/AddStaff.h"
#include "records/Infomation.h"
#include "records/ModifyStaff.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

class TestStaffDialogs : public QObject, private FormDriver
{
    Q_OBJECT

    QString chosenPhoto;

    // One dose row in each of the four tables, filed under slaveId.
    static constexpr const char* doseTables[] = {"Realdata", "Monthdata", "Yeardata", "SeqYeardata"};
    static void addHistory(ScratchDatabase& ws, int slaveId)
    {
        for (const char* table : doseTables)
            ws.addDose(QLatin1String(table), slaveId, QStringLiteral("20240101000000"), 1);
    }
    static int history(const ScratchDatabase& ws, int slaveId)
    {
        int n = 0;
        for (const char* table : doseTables)
            n += ws.value(QStringLiteral("select count(*) from %1 where slaveId = ?").arg(QLatin1String(table)),
                          {slaveId}).toInt();
        return n;
    }
    static ModalScript::Action enter(const QString& card, const char* ok)
    {
        return [=](QWidget* d) {
            child<QLineEdit>(d, "Id_card")->setText(card);
            click(d, ok);
            return QString();
        };
    }

private slots:
    void initTestCase() { AddStaff::imageChooser = [this](QWidget*) { return chosenPhoto; }; }
    void init() { chosenPhoto.clear(); }

    // The titles the scripts find the windows by, the choices whose index
    // is stored, and the named connections (the shared one included).
    void forms_titlesChoicesAndConnections()
    {
        ScratchDatabase ws;
        Infomation list(nullptr, nullptr, ws.store.get());
        auto* add = list.findChild<AddStaff*>();
        auto* mod = list.findChild<ModifyStaff*>();
        QVERIFY(add && mod);
        QCOMPARE(list.windowTitle() + add->windowTitle() + mod->windowTitle(),
                 QStringLiteral("人员信息查询添加人员信息修改人员信息"));
        QStringList items;
        for (auto* combo : {child<QComboBox>(add, "Gender"), child<QComboBox>(add, "type_cmb"),
                            child<QComboBox>(mod, "Gender"), child<QComboBox>(mod, "cbm_type")})
            items << combo->itemText(0) + combo->itemText(1);
        QCOMPARE(items.join('|'), QStringLiteral("男女|职业人员非职业人员|男女|职业人员非职业人员"));
        for (const char* conn : {"Search.db", "Addstaff.db", "Modstaff.db"})
            QVERIFY2(QSqlDatabase::contains(QLatin1String(conn)), conn);
    }

    void search_boundFilterAndEveryRow()
    {
        ScratchDatabase ws;
        ws.db.transaction();
        for (const char* name : {"张三", "O'Neil", "张四"})
            ws.addPerson(QString::fromUtf8(name), QString::fromUtf8(name));
        for (int i = 0; i < 600; ++i)
            ws.addPerson(QString::number(i), QStringLiteral("人员%1").arg(i));
        ws.db.commit();
        Infomation list(nullptr, nullptr, ws.store.get());
        auto* view = child<QTableView>(&list, "tableView");
        QCOMPARE(view->model(), nullptr);
        click(&list, "btnSearch");
        // Every row, though the connection closed after the search.
        QCOMPARE(view->model()->rowCount(), 603);
        QCOMPARE(view->model()->index(602, 2).data().toString(), QStringLiteral("人员599"));
        QCOMPARE(view->model()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("住址"));
        QVERIFY(view->isColumnHidden(0) && !view->isColumnHidden(1));

        const QList<QPair<QString, int>> filters = {{"O'", 1}, {"张", 2}, {"'; drop table Staff; --", 0}};
        for (const auto& f : filters) {
            child<QLineEdit>(&list, "le_name")->setText(f.first);
            click(&list, "btnSearch");
            QCOMPARE(view->model()->rowCount(), f.second);
        }
        QCOMPARE(ws.value("select count(*) from Staff").toInt(), 603);
    }

    void selection_missingOrDeletedAsksForOne()
    {
        ScratchDatabase ws;
        const int first = ws.addPerson("110", QStringLiteral("张三"));
        ws.addPerson("120", QStringLiteral("李四"));
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = child<QTableView>(&list, "tableView");
        const auto expectNoSelection = [&](const char* button) {
            ModalScript script;
            script.box("Done", QStringLiteral(" 请选择一条数据"), QMessageBox::Ok, &list);
            click(&list, button);
            ANSWERED(script);
            QCOMPARE(view->model()->rowCount(), ws.value("select count(*) from Staff").toInt());
        };
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");

        // Deleted behind the list's back.
        clickRow(view, "110");
        ws.value("delete from Staff where id = ?", {first});
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");

        // Deleted here; the next person added gets the same id again.
        click(&list, "btnSearch");
        clickRow(view, "120");
        ModalScript answer;
        answer.box("询问", QStringLiteral("是否保留人员历史数据"), QMessageBox::Yes);
        click(&list, "btnDel");
        ANSWERED(answer);
        const int reused = ws.addPerson("130", QStringLiteral("王五"));
        expectNoSelection("btnModify");
        expectNoSelection("btnDel");
        QCOMPARE(ws.value("select name from Staff where id = ?", {reused}).toString(), QStringLiteral("王五"));
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
        ScratchDatabase ws;
        ws.addPerson("110", QStringLiteral("张三"));
        ws.addPerson("120", QStringLiteral("李四"));
        ws.addPerson("130", QStringLiteral("王五"));
        ws.addDevice(7, "110");
        ws.addDevice(8, "120");
        addHistory(ws, 7);
        addHistory(ws, 8);
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(child<QTableView>(&list, "tableView"), card);

        ModalScript script;
        script.expect("询问", [](QWidget* d) {
            auto* b = qobject_cast<QMessageBox*>(d);
            return b->defaultButton() == b->button(QMessageBox::Yes) && b->button(QMessageBox::No)->isVisible()
                       ? QString() : QStringLiteral("not a Yes/No question with Yes as default");
        });
        script.box("询问", QStringLiteral("是否保留人员历史数据"), answer);
        click(&list, "btnDel");
        ANSWERED(script);
        QCOMPARE(ws.value("select count(*) from Staff").toInt(), staffLeft);
        QCOMPARE(history(ws, 7), historyLeft);
        QCOMPARE(history(ws, 8), 4);
        QCOMPARE(ws.value("select count(*) from Device").toInt(), 2);
        QCOMPARE(child<QTableView>(&list, "tableView")->model()->rowCount(), staffLeft);
    }

    void add_checksTheIdCardAndForgetsThePhoto()
    {
        ScratchDatabase ws;
        ws.value("insert into Department(department,dname) values('放射科','甲'),('核医学科','乙')");
        ws.addPerson("100", QStringLiteral("张三"));
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
                if (child<QComboBox>(d, "Depart")->count() != 2)
                    return QStringLiteral("departments not listed");
                child<QLineEdit>(d, "Name")->setText(QStringLiteral("王五"));
                child<QComboBox>(d, "Gender")->setCurrentIndex(1);
                child<QComboBox>(d, "Depart")->setCurrentIndex(1);
                child<QLineEdit>(d, "Teleno")->setText("555");
                child<QLineEdit>(d, "Adress")->setText(QStringLiteral("北路"));
                child<QComboBox>(d, "type_cmb")->setCurrentIndex(1);
                chosenPhoto = QFileInfo(file).absoluteFilePath();
                click(d, "photo");
                return enter("110", "btnAdd")(d);
            });
        click(&list, "btnAdd");
        ANSWERED(script);
        QCOMPARE(ws.value("select count(*) from Staff").toInt(), 2);
        QCOMPARE(ws.value("select name||gender||ptype||totalValue||department||teleNo||adress from Staff "
                              "where ID_card = '110'").toString(),
                 QStringLiteral("王五女10.0核医学科555北路"));
        QCOMPARE(ws.value("select photo from Staff where ID_card = '110'").toByteArray(), png);
        QCOMPARE(child<QTableView>(&list, "tableView")->model()->rowCount(), 2);

        // The next person keeps the typed inputs but not the photo.
        ModalScript again;
        again.expect("添加人员信息", [](QWidget* d) {
            const bool kept = child<QLineEdit>(d, "Name")->text() == QStringLiteral("王五");
            enter("120", "btnAdd")(d);
            return kept ? QString() : QStringLiteral("inputs not kept");
        });
        click(&list, "btnAdd");
        ANSWERED(again);
        QCOMPARE(ws.value("select length(ifnull(photo,'')) from Staff where ID_card = '120'"), QVariant(0));
    }

    void modify_keepsOrReplacesThePhoto()
    {
        ScratchDatabase ws;
        ws.value("insert into Department(department,dname) values('放射科','甲'),('核医学科','乙')");
        const int a = ws.addPerson("110", QStringLiteral("张三"), QStringLiteral("核医学科"), 0, "photo-a");
        const int b = ws.addPerson("120", QStringLiteral("李四"), QStringLiteral("放射科"), 0, "photo-b");
        ws.value("update Staff set gender = '女', ptype = 1 where id = ?", {a});
        QFile file("b.jpg");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("\xff\xd8\xff jpeg") == 8);
        file.close();
        const QString other = QFileInfo(file).absoluteFilePath();
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto* view = child<QTableView>(&list, "tableView");
        click(&list, "btnSearch");
        const auto modify = [&](const QString& card, const ModalScript::Action& act) {
            clickRow(view, card);
            ModalScript script;
            script.expect("修改人员信息", act);
            click(&list, "btnModify");
            ANSWERED(script);
        };

        modify("110", [](QWidget* d) {
            const bool loaded = child<QComboBox>(d, "Depart")->currentText() == QStringLiteral("核医学科")
                                && child<QComboBox>(d, "Gender")->currentIndex() == 1
                                && child<QComboBox>(d, "cbm_type")->currentIndex() == 1
                                && child<QLineEdit>(d, "Id_card")->text() == "110";
            child<QLineEdit>(d, "Name")->setText(QStringLiteral("张三丰"));
            click(d, "btnMod");
            return loaded ? QString() : QStringLiteral("not loaded");
        });
        QCOMPARE(ws.value("select name||department||photo from Staff where id = ?", {a}).toString(),
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
        QCOMPARE(ws.value("select photo from Staff where id = ?", {b}).toString(), QStringLiteral("photo-b"));

        chosenPhoto = other;
        modify("120", [](QWidget* d) {
            click(d, "photo");
            click(d, "btnMod");
            return QString();
        });
        QCOMPARE(ws.value("select photo from Staff where id = ?", {b}).toByteArray(), QByteArray("\xff\xd8\xff jpeg"));
    }

    void modify_idCardRulesAndTheDeviceFollows()
    {
        ScratchDatabase ws;
        const int a = ws.addPerson("110", QStringLiteral("张三"));
        ws.addPerson("120", QStringLiteral("李四"));
        ws.addDevice(5, "110");
        ws.addDevice(9, "X9"); // left behind by a deleted person
        Infomation list(nullptr, nullptr, ws.store.get());
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        click(&list, "btnSearch");
        clickRow(child<QTableView>(&list, "tableView"), "110");

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
        QCOMPARE(ws.value("select ID_card from Staff where id = ?", {a}).toString(), QStringLiteral("110"));

        ModalScript moved;
        moved.expect("修改人员信息", enter("111", "btnMod"));
        click(&list, "btnModify");
        ANSWERED(moved);
        QCOMPARE(ws.value("select ID_card from Staff where id = ?", {a}).toString(), QStringLiteral("111"));
        QCOMPARE(ws.value("select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("5111,9X9"));
    }

    void updateStaffAndDevice_changesAllOrNothing()
    {
        ScratchDatabase ws;
        const int a = ws.addPerson("110", QStringLiteral("张三"));
        const int twin = ws.addPerson("110", QStringLiteral("张三"));
        ws.addDevice(5, "110");
        ws.addDevice(9, "X9");
        Staffdata person, other;
        QVERIFY(ws.store->selectStaffById(person, a, ws.db) && ws.store->selectStaffById(other, twin, ws.db));

        // A card still held by someone else keeps its device there.
        person.ID_card = "111";
        QVERIFY(ws.store->updateStaffAndDevice(person, ws.db));
        // Device 5 brought to a card that has device 9 already: refused whole.
        other.ID_card = "X9";
        other.name = QStringLiteral("改名");
        QVERIFY(!ws.store->updateStaffAndDevice(other, ws.db));
        QCOMPARE(ws.value("select name from Staff where id = ?", {twin}).toString(), QStringLiteral("张三"));
        // A person deleted meanwhile: nothing moves.
        ws.value("delete from Staff where id = ?", {twin});
        other.ID_card = "112";
        QVERIFY(!ws.store->updateStaffAndDevice(other, ws.db));
        QCOMPARE(ws.value("select group_concat(slaveId||ID_card) from Device").toString(),
                 QStringLiteral("5110,9X9"));
        QCOMPARE(ws.value("select count(*) from Staff").toInt(), 1);
    }
};

QTEST_MAIN(TestStaffDialogs)
#include "tst_staffdialogs.moc"
