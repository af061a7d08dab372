#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "core/device/SettingsAdpater.h"

// Every field of an element in one text, so one comparison covers them all.
static QStringList texts(const QList<Com_Info>& list)
{
    QStringList all;
    for (const Com_Info& c : list)
        all << QStringList{QString::number(c.type), c.SerialPort, c.Baud, c.DataBits, c.StopBits, c.Parity, c.RTS,
                           c.Timeout, QString::number(c.IsShared)}.join('|');
    return all;
}

static QStringList texts(const QList<Probe_Info>& list)
{
    QStringList all;
    for (const Probe_Info& p : list)
        all << QString("%1|%2|%3|%4|%5|%6|%7|%8|%9|%10").arg(p.id).arg(p.lowdata).arg(p.highdata).arg(p.errratio)
                   .arg(p.interval).arg(p.natural).arg(p.artificial).arg(p.srcdata).arg(p.srcdata_h).arg(p.srcvdata);
    return all;
}

class tst_settings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void readWriteRoundTrip()
    {
        const QString file = dir.filePath("both.ini");
        {
            // Without a file: no port named (none shown as if in use), no probes, and reading writes nothing.
            SettingsAdpater fresh(file, QSettings::IniFormat);
            QCOMPARE(texts(fresh.getComList()) + texts(fresh.getProbeList()), QStringList{});
            fresh.sync();
            QVERIFY(!QFile::exists(file));
        }
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        // Missing keys inside an existing array read empty, not as defaults.
        f.write("[myCom]\n1\\SerialPort=/dev/ttyUSB0\n1\\Baud=38400\n1\\StopBits=1.5\n1\\RTS=HardwareControl\n"
                "1\\Timeout=200\n2\\type=3\n2\\IsShared=1\nsize=2\n"
                "[myProbe]\n1\\id=3\n1\\lowdata=10\n1\\highdata=900\n1\\errratio=0.125\n1\\interval=60\n"
                "1\\natural=0.25\n1\\artificial=1.5\n1\\srcdata=2.25\n1\\srcdata_h=3.5\n1\\srcvdata=4.75\n"
                "2\\id=4\n2\\lowdata=-1\nsize=2\n");
        f.close();
        const QStringList coms{"0|/dev/ttyUSB0|38400||1.5||HardwareControl|200|0", "3||||||||1"};
        const QStringList probes{"3|10|900|0.125|60|0.25|1.5|2.25|3.5|4.75", "4|-1|0|0|0|0|0|0|0|0"};
        for (const int dropped : {0, 1}) { // read as written by hand, then as written back; each time write it back
            SettingsAdpater s(file, QSettings::IniFormat);
            QCOMPARE(texts(s.getComList()) + texts(s.getProbeList()), coms + probes);
            s.setComList(s.getComList().mid(dropped)); // the second time one element shorter
            s.writeSettings();
        }
        SettingsAdpater s(file, QSettings::IniFormat);
        QCOMPARE(texts(s.getComList()), coms.mid(1));
        // A shorter list leaves no stale element behind; numbers are stored as numbers.
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray com = f.readAll().split('[').value(1);
        QVERIFY2(com.startsWith("myCom]") && com.contains("1\\type=3") && !com.contains("2\\"), com.constData());
    }
};

QTEST_GUILESS_MAIN(tst_settings)
#include "tst_settings.moc"
