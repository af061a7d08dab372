#include <QtTest>
#include <QtWidgets>

#include <sys/stat.h>

#include "core/device/SettingsAdpater.h"
#include "desktop/DbSettings.h"
#include "core/store/PgPassFile.h"
#include "support/ModalScript.h"
#include "support/PgServer.h"
#include "support/ScratchDatabase.h"

Q_DECLARE_METATYPE(StoreConfig)

class tst_dbsettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString ini = dir.filePath("zudovi.ini");
    QString pgpass = dir.filePath("pgpass"); // PGPASSFILE; HOME is dir as well

    static void fill(DbSettings& d, const StoreConfig& c, const QString& password)
    {
        auto* driver = d.findChild<QComboBox*>("cmbDriver");
        driver->setCurrentIndex(driver->findData(c.driver));
        QVERIFY(d.findChild<QLineEdit*>("editHost")->isEnabled() == c.isShared());
        QVERIFY(d.findChild<QLineEdit*>("editPath")->isEnabled() != c.isShared());
        const QStringList names{"editPath", "editHost", "editName", "editUser", "editOptions", "editPassword"};
        const QStringList texts{c.path, c.host, c.name, c.user, c.options, password};
        for (int i = 0; i < names.size(); ++i)
            d.findChild<QLineEdit*>(names[i])->setText(texts[i]);
        d.findChild<QSpinBox*>("spinPort")->setValue(c.port);
    }
    static QString fieldsOf(const StoreConfig& c)
    {
        return QStringList{c.driver, c.host, QString::number(c.port), c.name, c.user, c.options}.join('|');
    }

private slots:
    void initTestCase()
    {
        qputenv("HOME", dir.path().toUtf8());
        qputenv("PGPASSFILE", pgpass.toUtf8());
    }

    void testReportsVersionOrError_data()
    {
        QTest::addColumn<StoreConfig>("store");
        QTest::addColumn<QString>("shown");
        StoreConfig pg = PgServer::instance().store(), wrong = pg, file = StoreConfig::file(dir.filePath("x.db"));
        wrong.port = pg.port + 1;
        QTest::newRow("server") << pg << valueIn(pg, "select version()").toString();
        QTest::newRow("wrong port") << wrong << QString(".s.PGSQL.%1").arg(wrong.port); // libpq names the socket
        QTest::newRow("sqlite") << file << valueIn(file, "select sqlite_version()").toString();
    }
    void testReportsVersionOrError()
    {
        QFETCH(StoreConfig, store);
        QFETCH(QString, shown);
        DbSettings dialog(nullptr, nullptr);
        fill(dialog, store, "unused");
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnTest"), Qt::LeftButton);
        const QString label = dialog.findChild<QLabel*>("lblResult")->text();
        QVERIFY2(!shown.isEmpty() && label.contains(shown), qPrintable(label));
    }

    void okSavesGroupAndPasswordLine()
    {
        SettingsAdpater settings(ini, QSettings::IniFormat);
        const StoreConfig store = PgServer::instance().store();
        const QString key = QString("localhost:%1:postgres:postgres:").arg(store.port); // a socket is "localhost"
        const QString other = "elsewhere:5432:*:bob:pw";
        for (const QString& password : {QString("se:cr\\et"), QString("Second-Pw")}) {
            DbSettings dialog(nullptr, &settings);
            ModalScript script; // the notice only when the store changes
            if (password != "Second-Pw")
                script.box("数据库设置", "数据库设置已保存，重新启动程序后生效。", QMessageBox::Ok, &dialog);
            fill(dialog, store, password);
            dialog.findChild<QCheckBox*>("chkSavePassword")->setChecked(true);
            QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
            ANSWERED(script);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            struct stat st;
            QVERIFY(stat(QFile::encodeName(pgpass).constData(), &st) == 0 && (st.st_mode & 0777) == 0600);
            if (password == "Second-Pw")
                continue;
            QCOMPARE(fileLines(pgpass), QStringList{key + "se\\:cr\\\\et"}); // ':' and '\' escaped
            QFile append(pgpass);
            QVERIFY(append.open(QIODevice::Append) && append.write(other.toUtf8() + '\n') > 0);
        }
        QCOMPARE(fileLines(pgpass), QStringList({key + "Second-Pw", other}));
        const QString saved = fileLines(ini).join('\n');
        QVERIFY2(!saved.contains("se:cr") && !saved.contains("Second-Pw"), qPrintable(saved));

        SettingsAdpater ports(ini, QSettings::IniFormat); // the port dialog's rewrite of the file
        ports.writeSettings();
        ports.sync();
        QSettings back(ini, QSettings::IniFormat);
        StoreConfig read;
        QVERIFY(StoreConfig::read(back, read));
        QCOMPARE(fieldsOf(read), fieldsOf(store));
    }

    // A pasted password that carries a line break would become two lines of the password file: refused, nothing written.
    void passwordWithLineBreakRefused()
    {
        const QString file = dir.filePath("fresh.ini");
        SettingsAdpater settings(file, QSettings::IniFormat);
        const StoreConfig store = PgServer::instance().store();
        const QStringList lines = fileLines(pgpass);
        DbSettings dialog(nullptr, &settings);
        ModalScript script;
        script.box("数据库设置", "密码中有换行符：请重新输入密码（不要带换行）。", QMessageBox::Ok, &dialog);
        fill(dialog, store, "");
        auto* field = dialog.findChild<QLineEdit*>("editPassword");
        QApplication::clipboard()->setText("cr\net\n");
        QTest::keyClicks(field, "se");
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field->text(), QString("secr\net\n"));
        QTest::mouseClick(dialog.findChild<QCheckBox*>("chkSavePassword"), Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        ANSWERED(script);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(fileLines(pgpass), lines);
        QVERIFY(!QFile::exists(file));
        // Nor does the file itself take one, in any field.
        QString error;
        StoreConfig named = store;
        named.user = "a\rb";
        QVERIFY(!PgPassFile::save(pgpass, store, "x\ny", &error) && error.contains("换行"));
        QVERIFY(!PgPassFile::save(pgpass, named, "pw", &error) && error.contains("换行"));
        QCOMPARE(fileLines(pgpass), lines);
    }
};

QTEST_MAIN(tst_dbsettings)
#include "tst_dbsettings.moc"
