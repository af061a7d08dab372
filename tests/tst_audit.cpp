// The audit trail: each kind of change writes its row with the change, and only with it.

#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include <functional>

#include "desktop/AppMain.h"
#include "core/time/Clock.h"
#include "core/audit/AuditLog.h"
#include "core/store/Transaction.h"
#include "core/audit/AuditWords.h"
#include "desktop/AuditView.h"
#include "support/FormDriver.h"
#include "support/ScratchDatabase.h"

class TestAudit : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDatabase> s;
    int seen = 0;

    // The rows written since the last call, oldest first: "action table key | detail".
    QStringList written()
    {
        QStringList rows;
        QSqlQuery q(QSqlDatabase::database("check.db"));
        q.exec(QString("select action, tableName, rowKey, detail, id from AuditLog where id > %1 order by id")
                   .arg(seen));
        while (q.next()) {
            rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()}.join(' ') + " | "
                    + q.value(3).toString();
            seen = q.value(4).toInt();
        }
        return rows;
    }

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    void everyChangeWritesItsRow()
    {
        s.reset();
        s = std::make_unique<ScratchDatabase>();
        seen = 0;
        DataBase& d = *s->store;
        QSqlDatabase db = s->db;
        QString refusal;
        Staffdata person;
        s->addPerson("c1", "甲");
        written();
        const int first = seen;
        const QList<QPair<std::function<bool()>, QStringList>> steps{
            {[&] { return d.insertDepartment({0, "放射科", "主任"}, db); },
             {"insert Department 放射科 | department: → 放射科; dname: → 主任"}},
            {[&] { return d.selectStaffByIdCard(person, "c1", db) && (person.name = "乙", d.updateStaff(person, db)); },
             {"update Staff c1 | name: 甲 → 乙"}},
            {[&] { return d.addDeviceBinding({0, 5, "c1", "20260101000000"}, "20260101000000", &refusal, db); },
             {"insert Wearing 5 c1 | slaveId: → 5; ID_card: → c1; startTime: → 00000000000000",
              "insert Device 5 | slaveId: → 5; ID_card: → c1; dataTime: → 20260101000000"}},
            {[&] {
                 const int id = s->value("select id from Device").toInt();
                 return d.changeDeviceAddress(id, 6, "20260201000000", &refusal, db);
             },
             {"update Wearing 5 c1 | endTime: → 20260201000000",
              "insert Wearing 6 c1 | slaveId: → 6; ID_card: → c1; startTime: → 20260201000000",
              "setid Device 6 | slaveId: 5 → 6"}},
            {[&] { return d.followAddressChange(9, 10, "20260201000000", &refusal, db); },
             {"setid Device 10 | slaveId: 9 → 10"}},
            {[&] { return d.updatePolicy({{"background_per_hour", 0.5}}, db); },
             {"update DosePolicy background_per_hour | value: 0.23 → 0.5"}},
            {[&] {
                 s->exec("insert into DoseAlert(ID_card, level, periodKey, ackAt) values('c1', 'warning', '2026', '')");
                 return d.acknowledgeAlert(s->value("select id from DoseAlert").toInt(), "20260301000000", "me", "已调查", db);
             },
             {"ack DoseAlert c1 warning 2026 | comment: → 已调查"}},
            {[&] { return d.recordAudit("clear", "", "5", "port: COM3; records: 12", db); },
             {"clear  5 | port: COM3; records: 12"}},
            {[&] {
                 s->addDose("Realdata", 6, "20260202010000", 1.5);
                 s->addDose("Realdata", 6, "20260202020000", 1.5);
                 return d.deleteStaffWithHistory(s->value("select id from Staff").toInt(), db);
             },
             {"delete Wearing 5 c1 | slaveId: 5 →; ID_card: c1 →; startTime: 00000000000000 →; endTime: 20260201000000 →",
              "delete Wearing 6 c1 | slaveId: 6 →; ID_card: c1 →; startTime: 20260201000000 →",
              "delete Realdata c1 | rows: 2",
              "delete Staff c1 | ID_card: c1 →; name: 乙 →; gender: 男 →; ptype: 0 →; totalValue: 1.5 →; department: 放射科 →; "
              "teleNo: 110 →; adress: 某路 →"}},
        };
        for (const auto& step : steps) {
            QVERIFY2(step.first(), qPrintable(refusal));
            const QStringList rows = written();
            QVERIFY2(rows == step.second, qPrintable(rows.join('\n')));
        }
        // Each of them under the account the program runs as.
        QCOMPARE(s->list("select distinct actor from AuditLog where id > ? and id <= ?", {first, seen}), Transaction::actor());
        // A change that fails half-way leaves neither its rows nor its audit rows.
        s->addPerson("c2", "丙");
        s->addDevice(7, "c2");
        s->addDose("Realdata", 7, "20260202010000", 2);
        written();
        QVERIFY(s->sabotage("delete", "Staff"));
        QVERIFY(!d.deleteStaffWithHistory(s->value("select id from Staff").toInt(), db));
        QCOMPARE(written(), QStringList());
        QCOMPARE(s->count("Realdata") + s->count("Wearing"), 2);
    }

    void viewFilters()
    {
        Clock::setNow(QDateTime::currentDateTime());
        AuditView view(nullptr, s->store.get());
        view.show();
        const QAbstractItemModel* model = FormDriver::child<QTableView>(&view, "tv_log")->model();
        const int all = s->count("AuditLog");
        QCOMPARE(model->rowCount(), all);
        const auto row = [model](int r) { return model->index(r, 2).data().toString() + model->index(r, 4).data().toString(); };
        const auto stored = [this](const char* order) {
            return AuditWords::action(s->value(QString("select action from AuditLog order by id %1 limit 1").arg(order)).toString())
                + s->value(QString("select rowKey from AuditLog order by id %1 limit 1").arg(order)).toString();
        };
        QCOMPARE(row(0) + row(all - 1), stored("desc") + stored("")); // newest first, the action in Chinese
        FormDriver::child<QComboBox>(&view, "cb_action")->setCurrentText("更改设备地址"); // stored as "setid"
        QCOMPARE(model->rowCount(), 2);
        FormDriver::child<QLineEdit>(&view, "le_filter")->setText("9 → 10");
        QCOMPARE(model->rowCount(), 1);
        QVERIFY(model->index(0, 5).data().toString().startsWith("设备号: 9 → 10"));
        FormDriver::child<QComboBox>(&view, "cb_action")->setCurrentIndex(0);
        FormDriver::child<QLineEdit>(&view, "le_filter")->setText("%");
        QCOMPARE(model->rowCount(), 0);
        FormDriver::child<QLineEdit>(&view, "le_filter")->clear();
        FormDriver::child<QDateEdit>(&view, "de_to")->setDate(QDate::currentDate().addDays(-1));
        QCOMPARE(model->rowCount(), 0);
    }

    void wordsInChinese_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("fields") << "name: 甲 → 乙; slaveId: 9 → 10; " << "姓名: 甲 → 乙; 设备号: 9 → 10; ";
        QTest::newRow("lower case, as a server keeps them") << "id_card: → 110; " << "身份证号: → 110; ";
        QTest::newRow("a deletion") << "adress: a →; photo: 8 bytes →; " << "住址: a →; 照片: 8 bytes →; ";
        QTest::newRow("a correction and a laboratory's result")
            << "state: pending → approved; approvedby: → b@x; hp10_uSv: → 120; closeComment: → 复核" // server's case
            << "状态: pending → approved; 批准人: → b@x; Hp(10) (μSv): → 120; 关闭说明: → 复核";
        QTest::newRow("unknown words stay") << "summary: 3 rows" << "summary: 3 rows";
    }
    void wordsInChinese()
    {
        QFETCH(QString, stored);
        QTEST(AuditWords::detail(stored), "shown");
    }

    // Nobody rewrites an entry, whatever the statement: the trail stays as it was.
    void nobodyRewritesTheTrail_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::newRow("update") << "update AuditLog set actor = 'x'";
        QTest::newRow("delete") << "delete from AuditLog";
        QTest::newRow("insert of an id") << "insert into AuditLog(id, actor) values(1, 'x')";
        QTest::newRow("on conflict update") << "insert into AuditLog(id, actor) values(1, 'x') on conflict(id) do update set actor = 'x'";
        QTest::newRow("on conflict nothing") << "insert into AuditLog(id, actor) values(1, 'x') on conflict(id) do nothing";
        QTest::newRow("replace") << "replace into AuditLog(id, actor) values(1, 'x')";
        QTest::newRow("insert or replace") << "insert or replace into AuditLog(id, actor) values(1, 'x')";
        QTest::newRow("replace, recursive triggers") << "pragma recursive_triggers = on; replace into AuditLog(id, actor) values(1, 'x')";
    }
    void nobodyRewritesTheTrail()
    {
        QFETCH_GLOBAL(bool, postgres);
        QFETCH(QString, statement);
        if (postgres && statement.contains("replace"))
            QSKIP("PostgreSQL has no REPLACE");
        s.reset();
        s = std::make_unique<ScratchDatabase>();
        QVERIFY(s->store->recordAudit("clear", "", "5", "records: 12", s->db)
                && s->store->recordAudit("setid", "Device", "6", "slaveId: 5 → 6", s->db));
        const QString trail = s->list("select * from AuditLog order by id");
        QVERIFY(trail.contains("setid"));
        QSqlQuery q(s->db);
        for (const QString& part : statement.split("; "))
            q.exec(part);
        QVERIFY(q.lastError().text().contains("the audit trail is never changed"));
        QCOMPARE(s->list("select * from AuditLog order by id"), trail);
    }

    // A change beside the program (a plain connection, none of its set-up) is recorded once, from outside; the
    // program's changes before and after it once each, under the account.
    void outsideChangesRecordedOnce()
    {
        s.reset();
        s = std::make_unique<ScratchDatabase>();
        seen = 0;
        written();
        DataBase& d = *s->store;
        const QString account = Transaction::actor(), outside = "outside the program";
        QSqlDatabase plain = s->store->storeConfig().addConnection("plain");
        QVERIFY(plain.open());
        QSqlQuery q(plain);
        const QList<std::tuple<std::function<bool()>, QString, QString>> steps{
            {[&] { return d.insertDepartment({0, "放射科", "主任"}, s->db); }, account,
             "insert Department 放射科 | department: → 放射科; dname: → 主任"},
            {[&] { return q.exec("update Department set dname = '副主任'"); }, outside,
             "update Department 放射科 | dname: 主任 → 副主任"},
            {[&] { return d.updateDepartment({s->value("select id from Department").toInt(), "放射科", "王"}, s->db); },
             account, "update Department 放射科 | dname: 副主任 → 王"},
            {[&] { return q.exec("delete from Department"); }, outside,
             "delete Department 放射科 | department: 放射科 →; dname: 王 →"},
        };
        for (const auto& [change, actor, row] : steps) {
            QVERIFY(change());
            QCOMPARE(s->list("select actor from AuditLog where id > ?", {seen}), actor);
            QCOMPARE(written(), QStringList{row});
        }
    }

    // A store whose recording triggers are missing or an earlier version's gains this version's at start-up.
    void startUpRenewsTheTriggers()
    {
        s.reset();
        s = std::make_unique<ScratchDatabase>();
        const QString earlier = "insert into AuditLog(actor, action, rowKey) values('earlier', 'update', 'c1')";
        if (s->postgres())
            QVERIFY(s->exec("drop trigger audit_staff_insert on Staff")
                    && s->exec("create or replace function audit_staff_update() returns trigger language plpgsql as "
                               "$f$ begin " + earlier + "; return null; end $f$"));
        else
            QVERIFY(s->exec("drop trigger audit_Staff_insert") && s->exec("drop trigger audit_Staff_update")
                    && s->exec("create trigger audit_Staff_update after update on Staff begin " + earlier + "; end"));
        QVERIFY(s->store->createTables());
        s->addPerson("c1", "甲");
        QVERIFY(s->exec("update Staff set name = '乙'"));
        QCOMPARE(s->list("select actor, action, rowKey from AuditLog order by id"),
                 "outside the program insert c1,outside the program update c1");
    }

    // A station's role reads and writes rows: it checks the layout the owner made, and says what is missing.
    void stationChecksTheLayout()
    {
        QFETCH_GLOBAL(bool, postgres);
        if (!postgres)
            QSKIP("roles are a server's");
        s.reset();
        s = std::make_unique<ScratchDatabase>();
        QVERIFY(s->store->createAddedTables()); // as the owner's first start
        for (const char* sql : {"do $$ begin if not exists (select from pg_roles where rolname = 'station') then "
                                "create role station login; end if; end $$",
                                "grant usage on schema public to station",
                                "grant select, insert, update, delete on all tables in schema public to station",
                                "revoke update, delete on AuditLog from station",
                                "grant usage on all sequences in schema public to station"})
            QVERIFY(s->exec(sql));
        QSettings settings(s->path("zudovi.ini"), QSettings::IniFormat);
        settings.setValue("database/user", "station");
        settings.sync();
        QString out, err;
        QVERIFY2(ctl({"status"}, &out, &err) == 0, qPrintable(err));
        std::unique_ptr<DataBase> station;
        QVERIFY(openStore(settings, station).isEmpty());
        station->createConnection("station.db");
        QSqlDatabase db = station->getConnection("station.db");
        QVERIFY(station->insertDepartment({0, "放射科", "主任"}, db));
        QCOMPARE(s->list("select actor, action from AuditLog"), Transaction::actor() + " insert");
        QSqlQuery q(db);
        QVERIFY(!q.exec("alter table Staff disable trigger user") && !q.exec("drop trigger audit_staff_delete on Staff"));

        // The owner's layout loses a trigger: the station refuses to start and names it, and makes nothing.
        QVERIFY(s->exec("drop trigger audit_staff_update on Staff"));
        QCOMPARE(ctl({"status"}, &out, &err), 1);
        QVERIFY2(err.contains("缺少触发器 audit_Staff_update"), qPrintable(err));
        const QString refusal = openStore(settings, station);
        QVERIFY2(refusal.contains("触发器 audit_Staff_update"), qPrintable(refusal));
        QCOMPARE(station->missingLayout(), QStringList{"触发器 audit_Staff_update"});
        QCOMPARE(s->value("select count(*) from pg_trigger where tgname = 'audit_staff_update'").toInt(), 0);
    }
};

QTEST_MAIN(TestAudit)
#include "tst_audit.moc"
