#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/SettingsAdpater.h"

namespace {

// Every field of an element in one line, so that one comparison covers them all.
QString text(const Com_Info& c)
{
    return QStringList{QString::number(c.type), c.SerialPort, c.Baud,    c.DataBits, c.StopBits,
                       c.Parity,                c.RTS,        c.Timeout, QString::number(c.IsShared)}
        .join('|');
}

QString text(const Probe_Info& p)
{
    QStringList fields;
    for (double v : {double(p.id), double(p.lowdata), double(p.highdata), p.errratio, double(p.interval), p.natural,
                     p.artificial, p.srcdata, p.srcdata_h, p.srcvdata})
        fields << QString::number(v, 'g', 17);
    return fields.join('|');
}

template <typename T>
QStringList texts(const QList<T>& list)
{
    QStringList all;
    for (const T& element : list)
        all << text(element);
    return all;
}

} // namespace

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
        QCOMPARE(texts(settings.getComList()), QStringList{"1|COM1:|9600|8|1|None|Disable|0|0"});
        QVERIFY(settings.getProbeList().isEmpty());
        // Reading never creates the file.
        settings.sync();
        QVERIFY(!QFile::exists(file));
    }

    void missingKeysReadEmptyNotDefault()
    {
        writeFile("partial.ini", "[myCom]\n1\\SerialPort=/dev/ttyUSB0\n1\\Baud=38400\nsize=1\n");
        SettingsAdpater settings(path("partial.ini"), QSettings::IniFormat);
        QCOMPARE(texts(settings.getComList()), QStringList{"0|/dev/ttyUSB0|38400||||||0"});
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
            QCOMPARE(texts(before), (QStringList{"3|10|900|0.125|60|0.23000000000000001|1.5|2.25|3.5|4.75",
                                                 "4|-1|0|0|0|0|0|0|0|0"}));
            // The serial-port list defaults when the file has no "myCom" array.
            QCOMPARE(settings.getComList().size(), 1);
            Com_Info c;
            c.SerialPort = "/dev/ttyS1";
            settings.setComList({c});
            settings.writeSettings();
        }
        SettingsAdpater again(path("probe.ini"), QSettings::IniFormat);
        QCOMPARE(texts(again.getProbeList()), texts(before));
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
            QCOMPARE(texts(s.getComList()), texts(three));
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
