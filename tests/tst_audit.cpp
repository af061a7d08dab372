// The audit trail: each kind of change writes its row with the change, and only with it.

#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include <functional>

#include "app/Clock.h"
#include "db/AuditLog.h"
#include "records/AuditView.h"
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
        // A change that fails half-way leaves neither its rows nor its audit rows.
        s->addPerson("c2", "丙");
        s->addDevice(7, "c2");
        s->addDose("Realdata", 7, "20260202010000", 2);
        written();
        QVERIFY(s->sabotage("delete", "Staff"));
        QVERIFY(!d.deleteStaffWithHistory(s->value("select id from Staff").toInt(), db));
        QCOMPARE(written(), QStringList());
        QCOMPARE(s->count("Realdata") + s->count("Wearing"), 2);
        QCOMPARE(s->list("select distinct actor from AuditLog"), AuditLog::actor());
        // Nobody changes the trail.
        QVERIFY(!s->exec("update AuditLog set actor = 'x'") && !s->exec("delete from AuditLog"));
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
        QCOMPARE(row(0) + row(all - 1), s->value("select (select action || rowKey from AuditLog order by id desc limit 1) || "
                                                 "(select action || rowKey from AuditLog order by id limit 1)").toString());
        FormDriver::child<QComboBox>(&view, "cb_action")->setCurrentText("setid");
        QCOMPARE(model->rowCount(), 2);
        FormDriver::child<QLineEdit>(&view, "le_filter")->setText("9 → 10");
        QCOMPARE(model->rowCount(), 1);
        FormDriver::child<QComboBox>(&view, "cb_action")->setCurrentIndex(0);
        FormDriver::child<QLineEdit>(&view, "le_filter")->setText("%");
        QCOMPARE(model->rowCount(), 0);
        FormDriver::child<QLineEdit>(&view, "le_filter")->clear();
        FormDriver::child<QDateEdit>(&view, "de_to")->setDate(QDate::currentDate().addDays(-1));
        QCOMPARE(model->rowCount(), 0);
    }
};

QTEST_MAIN(TestAudit)
#include "tst_audit.moc"
