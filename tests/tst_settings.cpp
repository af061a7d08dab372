#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/SettingsAdpater.h"

namespace {

// Every field of an element in one text, so one comparison covers them all.
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
        fields << QString::number(v);
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

    QTemporaryDir dir;

private slots:
    void readWriteRoundTrip()
    {
        const QString file = dir.filePath("both.ini");
        {
            // Without a file: the default port record, no probes, and reading writes nothing.
            SettingsAdpater fresh(file, QSettings::IniFormat);
            QCOMPARE(texts(fresh.getComList()), QStringList{"1|COM1:|9600|8|1|None|Disable|0|0"});
            QVERIFY(fresh.getProbeList().isEmpty());
            fresh.sync();
            QVERIFY(!QFile::exists(file));
        }
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // Missing keys inside an existing array read empty, not as defaults.
        f.write("[myCom]\n1\\SerialPort=/dev/ttyUSB0\n1\\Baud=38400\n2\\type=3\n2\\IsShared=1\nsize=2\n"
                "[myProbe]\n1\\id=3\n1\\lowdata=10\n1\\highdata=900\n1\\errratio=0.125\n1\\interval=60\n"
                "1\\natural=0.25\n1\\artificial=1.5\n1\\srcdata=2.25\n1\\srcdata_h=3.5\n1\\srcvdata=4.75\n"
                "2\\id=4\n2\\lowdata=-1\nsize=2\n");
        f.close();
        const QStringList probes{"3|10|900|0.125|60|0.25|1.5|2.25|3.5|4.75", "4|-1|0|0|0|0|0|0|0|0"};
        QList<Com_Info> coms;
        {
            SettingsAdpater s(file, QSettings::IniFormat);
            QCOMPARE(texts(s.getComList()), QStringList({"0|/dev/ttyUSB0|38400||||||0", "3||||||||1"}));
            QCOMPARE(texts(s.getProbeList()), probes);
            coms = s.getComList();
            coms[0].StopBits = "1.5";
            coms[0].RTS = "HardwareControl";
            coms[0].Timeout = "200";
            s.setComList(coms);
            s.writeSettings();
        }
        {
            SettingsAdpater s(file, QSettings::IniFormat);
            QCOMPARE(texts(s.getComList()), texts(coms));
            QCOMPARE(texts(s.getProbeList()), probes);
            s.setComList({coms[1]});
            s.writeSettings();
        }
        SettingsAdpater s(file, QSettings::IniFormat);
        QCOMPARE(texts(s.getComList()), QStringList{text(coms[1])});
        // A shorter list leaves no stale element behind; numbers are stored as numbers.
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray com = f.readAll().split('[').value(1);
        QVERIFY2(com.startsWith("myCom]") && !com.contains("2\\"), com.constData());
        QVERIFY(com.contains("1\\type=3"));
    }
};

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
