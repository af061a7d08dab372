// dosectl migrate: an SQLite register copied into a PostgreSQL store; the store dosectl picks from zudovi.ini.

#include <QtTest>

#include "support/PgServer.h"
#include "support/ScratchDatabase.h"

static void configure(const StoreConfig& store) // the [database] group of the working directory's zudovi.ini
{
    QSettings settings("zudovi.ini", QSettings::IniFormat);
    store.write(settings);
}

class TestMigrate : public QObject
{
    Q_OBJECT

private slots:
    void migrate()
    {
        ScratchDatabase s;
        s.addPerson("c1", "甲");
        s.addPerson("c2", "乙", "核医学科", 1);
        QVERIFY(s.exec("update Staff set id = 40 where id = ?", {s.addPerson("c3", "丙")}));
        s.addDevice(5, "c1");
        s.addDevice(6, "c2");
        for (const int slave : {5, 6}) {
            for (const char* hour : {"20160414100000", "20161201110000", "20161231230000"})
                s.addDose("Realdata", slave, hour, 1.25 * slave);
            s.addDose("Monthdata", slave, "20161201", 1.25 * slave);
            s.addDose("Yeardata", slave, "201612", 1.25 * slave);
            s.addDose("SeqYeardata", slave, "2016", 3.75 * slave);
        }
        QVERIFY(s.exec("update DosePolicy set value = 900 where name = 'annual_limit_other'"));
        QVERIFY(s.exec("insert into DoseAlert(ID_card, level, periodKey, dose, threshold, raisedAt) "
                       "values('c2', 'investigation', '2016Q4', 22.5, 20, '2016-12-31 23:00:00')"));
        const int audited = s.count("AuditLog"); // the check connection records the register changes

        PgServer::instance().reset();
        const StoreConfig pg = PgServer::instance().store();
        configure(pg);
        const QString source = s.path("database.db");
        QString out, err, fileStatus;
        QCOMPARE(ctl({"migrate", "--from", source}, &out, &err), 0);
        // One line per table under a Chinese header, aligned on a terminal's columns.
        QVERIFY2(out.startsWith("表               文件行数   服务器行数       文件剂量和     服务器剂量和\n"), qPrintable(out));
        QVERIFY2(out.contains(QString("\n%1 %2 %3 %4 %5\n").arg("Realdata", -12).arg("6", 12).arg("6", 12).arg("41.250", 16).arg("41.250", 16)),
                 qPrintable(out));
        QVERIFY2(QRegularExpression("\n已迁移：\\d+ 行，从 " + QRegularExpression::escape(source) + " 到 "
                                    + QRegularExpression::escape(pg.describe()) + "\n$").match(out).hasMatch(),
                 qPrintable(out));
        QCOMPARE(ctl({"status", "--db", source, "--date", "2016-12-31"}, &fileStatus, &err), 0);
        QCOMPARE(fileStatus.count('\n'), 1 + s.count("Staff"));
        QCOMPARE(ctl({"status", "--date", "2016-12-31"}, &out, &err), 0);
        QCOMPARE(out, fileStatus);
        QCOMPARE(ctl({"migrate", "--from", source}, &out, &err), 1); // the target holds rows now

        const auto value = [&pg](const QString& sql) { return valueIn(pg, sql); };
        QCOMPARE(value("select name from Staff where id = 40").toString(), QString("丙"));
        QCOMPARE(value("select min(dataTime) from Realdata").toString(), QString("20160414100000"));
        QCOMPARE(value("select count(*) from AuditLog where action <> 'migrate'").toInt(), audited);
    }

    // A store dosectl cannot or must not use: exit 1, and the reason names what to set.
    void refused_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("wrong driver") << "QMYSQL" << QStringList{"status"} << QStringList{"QMYSQL", "QSQLITE", "QPSQL"};
        QTest::newRow("no server") << "QPSQL" << QStringList{"status"} << QStringList{"describe"};
        QTest::newRow("backup of a server") << "QPSQL" << QStringList{"backup", "b.db"} << QStringList{"pg_dump"};
        QTest::newRow("migrate into a file")
            << "QSQLITE" << QStringList{"migrate", "--from", "database.db"} << QStringList{"QPSQL"};
    }
    void refused()
    {
        QFETCH(QString, driver);
        QFETCH(QStringList, args);
        QFETCH(QStringList, named);
        ScratchDatabase s;
        StoreConfig store = PgServer::instance().store();
        store.driver = driver;
        store.port += 1; // nobody listens there
        configure(store);
        QString out, err;
        QCOMPARE(ctl(args, &out, &err), 1);
        for (const QString& word : named)
            QVERIFY2(err.contains(word == "describe" ? store.describe() : word), qPrintable(err));
    }
};

QTEST_MAIN(TestMigrate)
#include "tst_migrate.moc"
