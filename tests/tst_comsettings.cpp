// The serial-port settings dialog on a settings file in a temporary
// directory. The ports it lists come from the link's replaceable lister, so
// no test sees (or depends on) the machine's own serial ports.

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "app/SettingsAdpater.h"
#include "db/DataBase.h"
#include "device/ComParaSettings.h"
#include "device/SerialPort.h"

namespace {

Com_Info record(int slot, const QString& port)
{
    Com_Info c;
    c.type = slot;
    c.SerialPort = port;
    c.Baud = QStringLiteral("38400");
    c.RTS = QStringLiteral("NoFlowControl");
    c.Timeout = QStringLiteral("5");
    c.IsShared = slot;
    return c;
}

QString text(const Com_Info& c)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
        .arg(c.type).arg(c.SerialPort, c.Baud, c.DataBits, c.StopBits, c.Parity, c.RTS, c.Timeout).arg(c.IsShared);
}

QStringList texts(const QList<Com_Info>& list)
{
    QStringList out;
    for (const Com_Info& c : list)
        out << text(c);
    return out;
}

QStringList items(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

} // namespace

class tst_comsettings : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DataBase> database;
    std::unique_ptr<SettingsAdpater> settings;
    std::unique_ptr<SerialPort> link;
    std::unique_ptr<ComParaSettings> dialog;
    QList<PortDescription> listed;
    QStringList boxes;  // "title|text", parentless boxes only
    QTimer boxCloser;

    QString iniPath() const { return dir->filePath(QStringLiteral("zudovi.ini")); }
    QByteArray fileBytes()
    {
        settings->sync();
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QComboBox* combo(const char* name) const { return dialog->findChild<QComboBox*>(QLatin1String(name)); }
    QSpinBox* timeout() const { return dialog->findChild<QSpinBox*>(QStringLiteral("sbtimeout")); }

    void listPorts(const QStringList& names)
    {
        listed.clear();
        for (const QString& name : names) {
            PortDescription d;
            d.portName = name;
            listed.append(d);
        }
    }

    // A store file with these records and a probe record, then the store,
    // the link and the dialog as the program makes them.
    void start(const QList<Com_Info>& coms)
    {
        {
            SettingsAdpater writer(iniPath(), QSettings::IniFormat);
            Probe_Info probe;
            probe.id = 3;
            probe.errratio = 0.25;
            probe.srcvdata = 3.5;
            writer.setComList(coms);
            writer.setProbeList({probe});
            writer.writeSettings();
        }
        settings = std::make_unique<SettingsAdpater>(iniPath(), QSettings::IniFormat);
        link = std::make_unique<SerialPort>(nullptr, settings.get(), database.get());
        dialog = std::make_unique<ComParaSettings>(nullptr, settings.get());
        connect(dialog.get(), &ComParaSettings::Compara_changge, link.get(), &SerialPort::SerCompara_changge);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }

    void select(const char* name, const QString& item)
    {
        QComboBox* box = combo(name);
        QVERIFY2(box->findText(item) >= 0, qPrintable(item));
        box->setCurrentIndex(box->findText(item));
    }

    void press(QDialogButtonBox::StandardButton which)
    {
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(which)->click();
    }

private slots:
    void initTestCase()
    {
        // Message boxes are answered as soon as they are up.
        connect(&boxCloser, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (!box->parent() && box->icon() == QMessageBox::Critical)
                boxes << box->windowTitle() + QLatin1Char('|') + box->text();
            box->button(QMessageBox::Ok)->click();
        });
        boxCloser.start(10);
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        listed.clear();
        boxes.clear();
        SerialPort::setPortLister([this] { return listed; });
        database = std::make_unique<DataBase>();
    }

    void cleanup()
    {
        dialog.reset();
        link.reset();
        settings.reset();
        database.reset();
        SerialPort::setPortLister({});
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        dir.reset();
    }

    // ---- Filling the fields ------------------------------------------------

    void noSerialPortListsAddPortAndStoredNames()
    {
        start({record(0, QStringLiteral("/dev/ttyA")), record(1, QStringLiteral("/dev/ttyB"))});
        QCOMPARE(dialog->windowTitle(), QStringLiteral("串口设置"));
        QCOMPARE(dialog->size(), QSize(276, 300));
        QVERIFY(dialog->isModal());
        QCOMPARE(combo("cmbporttype")->count(), 20);
        QCOMPARE(items(combo("cmbBaud")).join(' '), QStringLiteral("300 600 900 1200 2400 4800 9600 19200 38400 57600 115200"));
        QCOMPARE(items(combo("cmbRTS")).join(' '), QStringLiteral("NoFlowControl HardwareControl SoftwareControl UnknownFlowControl"));
        QCOMPARE(items(combo("cmbPort")), QString("Add Port|/dev/ttyA|/dev/ttyB").split('|'));
        // Not on this computer, yet listed and selected.
        QCOMPARE(combo("cmbPort")->currentIndex(), 1);
        QCOMPARE(combo("cmbporttype")->currentIndex(), 0);
        QCOMPARE(combo("cmbBaud")->currentText(), QStringLiteral("38400"));
        QCOMPARE(combo("cmbDataBits")->currentText(), QStringLiteral("8"));
        QCOMPARE(combo("cmbRTS")->currentText(), QStringLiteral("NoFlowControl"));
        QCOMPARE(timeout()->value(), 5);

        // The next showing enumerates again, ports first and each name once.
        dialog->hide();
        listPorts({QStringLiteral("ttyFAKE0"), QStringLiteral("/dev/ttyB")});
        dialog->show();
        QCOMPARE(items(combo("cmbPort")), QString("ttyFAKE0|/dev/ttyB|Add Port|/dev/ttyA").split('|'));
        QCOMPARE(combo("cmbRTS")->count(), 4);
        QVERIFY(boxes.isEmpty());
    }

    void storedTextNotInAListLeavesThatBoxUnselected()
    {
        Com_Info odd = record(0, QStringLiteral("/dev/ttyA"));
        odd.Baud = QStringLiteral("12345");
        odd.Parity = QStringLiteral("none");  // the match is case-sensitive
        odd.RTS = QStringLiteral("Disable");  // the store's default, in no list
        start({odd});
        QCOMPARE(combo("cmbBaud")->currentIndex(), -1);
        QCOMPARE(combo("cmbParity")->currentIndex(), -1);
        QCOMPARE(combo("cmbRTS")->currentIndex(), -1);
        QCOMPARE(combo("cmbStopBits")->currentText(), QStringLiteral("1"));
    }

    void showingCommitsNothing()
    {
        // A record this slot may not commit: a showing that committed anything,
        // or marked it as the slot's own, would let OK pass.
        Com_Info foreign = record(3, QStringLiteral("/dev/ttyA"));
        foreign.IsShared = 5;
        const QList<Com_Info> stored {foreign, record(1, QStringLiteral("/dev/ttyB"))};
        start(stored);
        const QByteArray before = fileBytes();
        QCOMPARE(combo("cmbporttype")->currentIndex(), 3);  // the record's own number
        QCOMPARE(texts(dialog->workingList()), texts(stored));
        QSignalSpy changed(dialog.get(), &ComParaSettings::Compara_changge);
        press(QDialogButtonBox::Ok);
        QCOMPARE(boxes, QStringList(QStringLiteral("com setting|串口号不对，不保存参数!")));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(fileBytes(), before);
    }

    // ---- Refusals -----------------------------------------------------------

    void portUsedByAnotherSlotIsRefused()
    {
        start({record(0, QStringLiteral("/dev/ttyA")), record(1, QStringLiteral("/dev/ttyB"))});
        combo("cmbporttype")->setCurrentIndex(1);
        QCOMPARE(combo("cmbPort")->currentText(), QStringLiteral("/dev/ttyB"));
        select("cmbPort", QStringLiteral("/dev/ttyA"));
        QCOMPARE(boxes, QStringList(QStringLiteral("com setting|串口已选用!")));
        QCOMPARE(combo("cmbPort")->currentText(), QStringLiteral("/dev/ttyB"));
        QCOMPARE(dialog->workingList().at(1).SerialPort, QStringLiteral("/dev/ttyB"));

        // A typed name is what OK stores.
        combo("cmbPort")->setEditText(QStringLiteral("/dev/ttyC"));
        press(QDialogButtonBox::Ok);
        settings->sync();
        const QList<Com_Info> coms = SettingsAdpater(iniPath(), QSettings::IniFormat).getComList();
        QCOMPARE(coms.size(), 2);
        QCOMPARE(coms.at(0).SerialPort, QStringLiteral("/dev/ttyA"));
        QCOMPARE(coms.at(1).SerialPort, QStringLiteral("/dev/ttyC"));
        QCOMPARE(boxes.size(), 1);
    }

    void slotThatCannotBeCommittedKeepsItsNumberAndFields()
    {
        start({record(0, QStringLiteral("/dev/ttyA")), record(1, QStringLiteral("/dev/ttyB"))});
        select("cmbBaud", QStringLiteral("9600"));
        select("cmbPort", QStringLiteral("Add Port"));
        QVERIFY(boxes.isEmpty());
        combo("cmbporttype")->setCurrentIndex(4);
        QCOMPARE(boxes, QStringList(QStringLiteral("com setting|串口号重复，不保存参数!")));
        QCOMPARE(combo("cmbporttype")->currentIndex(), 0);
        QCOMPARE(dialog->workingList().size(), 2);
        QCOMPARE(dialog->workingList().at(0).Baud, QStringLiteral("38400"));
        QCOMPARE(combo("cmbBaud")->currentText(), QStringLiteral("9600"));
    }

    void okWithoutAPortSavesNothing()
    {
        start({record(0, QStringLiteral("/dev/ttyA"))});
        const QByteArray before = fileBytes();
        QSignalSpy changed(dialog.get(), &ComParaSettings::Compara_changge);
        select("cmbPort", QStringLiteral("Add Port"));
        press(QDialogButtonBox::Ok);
        QCOMPARE(boxes, QStringList(QStringLiteral("com setting|串口号不对，不保存参数!")));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(settings->getComList().at(0).SerialPort, QStringLiteral("/dev/ttyA"));
        QCOMPARE(fileBytes(), before);
    }

    // ---- Saving -------------------------------------------------------------

    void okWritesBothArraysProbesUnchanged()
    {
        listPorts({QStringLiteral("ttyFAKE0")});
        const QList<Com_Info> stored {record(0, QStringLiteral("/dev/ttyA")), record(1, QStringLiteral("/dev/ttyB"))};
        start(stored);
        const QList<Probe_Info> probes = settings->getProbeList();
        QSignalSpy changed(dialog.get(), &ComParaSettings::Compara_changge);
        select("cmbBaud", QStringLiteral("115200"));
        timeout()->setValue(7);
        // Slot 6 lies beyond the list: "Add Port" with slot 1's values.
        combo("cmbporttype")->setCurrentIndex(5);
        QCOMPARE(combo("cmbPort")->currentText(), QStringLiteral("Add Port"));
        QCOMPARE(combo("cmbBaud")->currentText(), QStringLiteral("115200"));
        QCOMPARE(dialog->PrechangesIdx(5), 1);  // "Add Port" there adds nothing
        QCOMPARE(dialog->workingList().size(), 2);
        select("cmbPort", QStringLiteral("ttyFAKE0"));
        select("cmbParity", QStringLiteral("Even"));
        press(QDialogButtonBox::Ok);
        QVERIFY(boxes.isEmpty());
        QCOMPARE(changed.count(), 1);

        settings->sync();
        SettingsAdpater reread(iniPath(), QSettings::IniFormat);
        QCOMPARE(texts(reread.getComList()),
                 QStringList({"0|/dev/ttyA|115200|8|1|None|NoFlowControl|7|0", text(stored.at(1)),
                              "5|ttyFAKE0|115200|8|1|Even|NoFlowControl|7|5"}));
        QCOMPARE(reread.getProbeList().size(), 1);
        QCOMPARE(reread.getProbeList().at(0).id, probes.at(0).id);
        QCOMPARE(reread.getProbeList().at(0).errratio, 0.25);
        QCOMPARE(reread.getProbeList().at(0).srcvdata, 3.5);
    }

    void cancelWritesNothing()
    {
        const QList<Com_Info> stored {record(0, QStringLiteral("/dev/ttyA")), record(1, QStringLiteral("/dev/ttyB"))};
        start(stored);
        const QByteArray before = fileBytes();
        QSignalSpy changed(dialog.get(), &ComParaSettings::Compara_changge);
        select("cmbBaud", QStringLiteral("1200"));
        combo("cmbporttype")->setCurrentIndex(1);  // commits slot 1 into the working copy
        QCOMPARE(dialog->workingList().at(0).Baud, QStringLiteral("1200"));
        // Coming back from minimised keeps the edits.
        dialog->showMinimized();
        QTest::qWait(30);
        dialog->showNormal();
        QTest::qWait(30);
        QCOMPARE(combo("cmbporttype")->currentIndex(), 1);
        QCOMPARE(dialog->workingList().at(0).Baud, QStringLiteral("1200"));

        press(QDialogButtonBox::Cancel);
        QVERIFY(!dialog->isVisible());
        QTest::qWait(30);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(fileBytes(), before);
        QCOMPARE(texts(settings->getComList()), texts(stored));

        // The next showing forgets the cancelled edits.
        dialog->show();
        QCOMPARE(texts(dialog->workingList()), texts(stored));
        QCOMPARE(combo("cmbBaud")->currentText(), QStringLiteral("38400"));
    }
};

QTEST_MAIN(tst_comsettings)
#include "tst_comsettings.moc"
