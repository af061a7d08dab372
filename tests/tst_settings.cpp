#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/SettingsAdpater.h"

class tst_settings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    void writeFile(const QString& name, const QByteArray& content)
    {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    void defaultsWithoutFile()
    {
        const QString file = path("none.ini");
        SettingsAdpater settings(file, QSettings::IniFormat);
        const QList<Com_Info> list = settings.getComList();
        QCOMPARE(list.size(), 1);
        const Com_Info& c = list.first();
        QCOMPARE(c.type, 1);
        QCOMPARE(c.SerialPort, QString("COM1:"));
        QCOMPARE(c.Baud, QString("9600"));
        QCOMPARE(c.DataBits, QString("8"));
        QCOMPARE(c.StopBits, QString("1"));
        QCOMPARE(c.Parity, QString("None"));
        QCOMPARE(c.RTS, QString("Disable"));
        QCOMPARE(c.Timeout, QString("0"));
        QCOMPARE(c.IsShared, 0);
        QVERIFY(settings.getProbeList().isEmpty());
        // Reading never creates the file.
        settings.sync();
        QVERIFY(!QFile::exists(file));
    }

    void missingKeysReadEmptyNotDefault()
    {
        writeFile("partial.ini", "[myCom]\n1\\SerialPort=/dev/ttyUSB0\n1\\Baud=38400\nsize=1\n");
        SettingsAdpater settings(path("partial.ini"), QSettings::IniFormat);
        const QList<Com_Info> list = settings.getComList();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0].SerialPort, QString("/dev/ttyUSB0"));
        QCOMPARE(list[0].Baud, QString("38400"));
        QCOMPARE(list[0].type, 0);
        QCOMPARE(list[0].IsShared, 0);
        QCOMPARE(list[0].Parity, QString());
        QCOMPARE(list[0].DataBits, QString());
        QCOMPARE(list[0].StopBits, QString());
        QCOMPARE(list[0].RTS, QString());
        QCOMPARE(list[0].Timeout, QString());
    }

    void probesWrittenBackUnchanged()
    {
        writeFile("probe.ini",
                  "[myProbe]\n"
                  "1\\id=3\n1\\lowdata=10\n1\\highdata=900\n1\\errratio=0.125\n1\\interval=60\n"
                  "1\\natural=0.23\n1\\artificial=1.5\n1\\srcdata=2.25\n1\\srcdata_h=3.5\n1\\srcvdata=4.75\n"
                  "2\\id=4\n2\\lowdata=-1\n"
                  "size=2\n");
        QList<Probe_Info> before;
        {
            SettingsAdpater settings(path("probe.ini"), QSettings::IniFormat);
            before = settings.getProbeList();
            QCOMPARE(before.size(), 2);
            QCOMPARE(before[0].id, 3);
            QCOMPARE(before[0].errratio, 0.125);
            QCOMPARE(before[0].srcvdata, 4.75);
            QCOMPARE(before[1].lowdata, -1);
            // The serial-port list defaults when the file has no "myCom" array.
            QCOMPARE(settings.getComList().size(), 1);
            Com_Info c;
            c.SerialPort = "/dev/ttyS1";
            settings.setComList({c});
            settings.writeSettings();
        }
        SettingsAdpater again(path("probe.ini"), QSettings::IniFormat);
        const QList<Probe_Info> after = again.getProbeList();
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < after.size(); ++i) {
            QCOMPARE(after[i].id, before[i].id);
            QCOMPARE(after[i].lowdata, before[i].lowdata);
            QCOMPARE(after[i].highdata, before[i].highdata);
            QCOMPARE(after[i].errratio, before[i].errratio);
            QCOMPARE(after[i].interval, before[i].interval);
            QCOMPARE(after[i].natural, before[i].natural);
            QCOMPARE(after[i].artificial, before[i].artificial);
            QCOMPARE(after[i].srcdata, before[i].srcdata);
            QCOMPARE(after[i].srcdata_h, before[i].srcdata_h);
            QCOMPARE(after[i].srcvdata, before[i].srcvdata);
        }
        QCOMPARE(again.getComList().size(), 1);
        QCOMPARE(again.getComList()[0].SerialPort, QString("/dev/ttyS1"));
    }

    void roundTripAndShorterListRewritesCount()
    {
        const QString file = path("com.ini");
        QList<Com_Info> three;
        for (int i = 0; i < 3; ++i) {
            Com_Info c;
            c.type = i;
            c.IsShared = i;
            c.SerialPort = QString("/dev/ttyUSB%1").arg(i);
            c.Baud = "38400";
            c.StopBits = "1.5";
            c.Parity = "Even";
            c.RTS = "HardwareControl";
            c.Timeout = QString::number(100 * i);
            three << c;
        }
        {
            SettingsAdpater s(file, QSettings::IniFormat);
            s.setComList(three);
            s.writeSettings();
        }
        {
            SettingsAdpater s(file, QSettings::IniFormat);
            const QList<Com_Info> back = s.getComList();
            QCOMPARE(back.size(), 3);
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(back[i].type, three[i].type);
                QCOMPARE(back[i].IsShared, three[i].IsShared);
                QCOMPARE(back[i].SerialPort, three[i].SerialPort);
                QCOMPARE(back[i].Baud, three[i].Baud);
                QCOMPARE(back[i].StopBits, three[i].StopBits);
                QCOMPARE(back[i].Parity, three[i].Parity);
                QCOMPARE(back[i].RTS, three[i].RTS);
                QCOMPARE(back[i].Timeout, three[i].Timeout);
            }
            s.setComList({three[2]});
            s.writeSettings();
        }
        SettingsAdpater s(file, QSettings::IniFormat);
        QCOMPARE(s.getComList().size(), 1);
        QCOMPARE(s.getComList()[0].SerialPort, QString("/dev/ttyUSB2"));
        // Numbers go to the file as numbers, and the stale elements are gone.
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray content = f.readAll();
        QVERIFY(content.contains("size=1"));
        QVERIFY(!content.contains("ttyUSB0"));
        QVERIFY(content.contains("1\\type=2"));
    }
};

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
