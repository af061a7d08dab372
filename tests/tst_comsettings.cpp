#include <QtTest>
#include <QtWidgets>

#include "app/SettingsAdpater.h"
#include "device/ComParaSettings.h"
#include "device/SerialPort.h"
#include "support/ModalScript.h"

class tst_comsettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QList<PortDescription> found{{"ttyFAKE0", {}, {}, {}}, {"/dev/ttyB", {}, {}, {}}}; // by the link's lister
    SettingsAdpater settings{dir.filePath("zudovi.ini"), QSettings::IniFormat};
    ComParaSettings dialog{nullptr, &settings};

    QComboBox* combo(const char* name) { return dialog.findChild<QComboBox*>(name); }
    void select(const char* name, const QString& item) { combo(name)->setCurrentIndex(combo(name)->findText(item)); }
    void press(QDialogButtonBox::StandardButton which) { dialog.findChild<QDialogButtonBox*>()->button(which)->click(); }
    static Com_Info slot(int n, const QString& port) { return {n, port, "38400", "8", "1", "None", "NoFlowControl", "5", n}; }
    QString fields() // slot, port, baud, data bits, stop bits, parity, flow control (empty: none selected), timeout
    {
        QString out = dialog.findChild<QSpinBox*>()->cleanText();
        for (const char* name : {"cmbRTS", "cmbParity", "cmbStopBits", "cmbDataBits", "cmbBaud", "cmbPort", "cmbporttype"})
            out.prepend(combo(name)->currentText() + '|');
        return out;
    }
    void start(const QList<Com_Info>& coms)
    {
        dialog.hide();
        settings.setComList(coms);
        settings.writeSettings();
        dialog.show();
    }

private slots:
    void initTestCase() { SerialPort::setPortLister([this] { return found; }); }

    void refusalsKeepWhatWasTypedAndStoreNothing()
    {
        ModalScript script;
        script.box("com setting", "串口号不对，不保存参数!").box("com setting", "串口已选用!");
        script.box("com setting", "串口号重复，不保存参数!").box("com setting", "串口号不对，不保存参数!");
        start({{3, "/dev/ttyA", "38400", "8", "1", "None", "NoFlowControl", "5", 5}}); // not slot 1's own to commit
        QCOMPARE(fields(), QString("4|/dev/ttyA|38400|8|1|None|NoFlowControl|5")); // showing commits nothing
        press(QDialogButtonBox::Ok);
        start({{0, "/dev/ttyA", "38400", "8", "1", "none", "Disable", "5", 0}, slot(1, "/dev/ttyB")});
        select("cmbBaud", "1200"); // into the working copy with the next line, into the store only with OK
        combo("cmbporttype")->setCurrentIndex(1);
        select("cmbPort", "/dev/ttyA"); // another slot's: put back
        QCOMPARE(fields(), QString("2|/dev/ttyB|38400|8|1|None|NoFlowControl|5"));
        select("cmbBaud", "9600");
        select("cmbPort", "Add Port");
        combo("cmbporttype")->setCurrentIndex(4); // not committed without a port: only the number goes back
        dialog.showMinimized();
        QTest::qWait(30);
        dialog.showNormal(); // coming back from minimised keeps the edits
        QTest::qWait(30);
        QCOMPARE(fields(), QString("2|Add Port|9600|8|1|None|NoFlowControl|5"));
        press(QDialogButtonBox::Ok);
        ANSWERED(script);
        dialog.show(); // the store again, and the ports enumerated afresh: the lister's first, each name once
        QCOMPARE(fields(), QString("1|/dev/ttyA|38400|8|1|||5"));
        QCOMPARE(combo("cmbPort")->itemText(0) + combo("cmbPort")->itemText(3), QString("ttyFAKE0/dev/ttyA"));
        QCOMPARE(combo("cmbPort")->count() + combo("cmbRTS")->count(), 4 + 4);
        start({slot(0, "/dev/ttyA"), slot(1, "/dev/ttyB")});
        QSignalSpy changed(&dialog, &ComParaSettings::Compara_changge);
        select("cmbBaud", "115200");
        dialog.findChild<QSpinBox*>()->setValue(7);
        combo("cmbporttype")->setCurrentIndex(1);
        combo("cmbPort")->setEditText("/dev/ttyC"); // a typed name is what OK stores
        combo("cmbporttype")->setCurrentIndex(5); // beyond the list: "Add Port" with the first slot's values
        QCOMPARE(fields(), QString("6|Add Port|115200|8|1|None|NoFlowControl|7"));
        QVERIFY(dialog.PrechangesIdx(5) == 1 && dialog.workingList().size() == 2); // "Add Port" there adds nothing
        select("cmbPort", "ttyFAKE0");
        select("cmbParity", "Even");
        press(QDialogButtonBox::Ok);
        QCOMPARE(changed.count(), 1);
        const QList<Com_Info> s = SettingsAdpater(dir.filePath("zudovi.ini"), QSettings::IniFormat).getComList();
        QCOMPARE(QStringList({QString::number(s.size()), s.value(1).SerialPort, s.value(2).SerialPort, s.value(2).Parity}),
                 QStringList({"3", "/dev/ttyC", "ttyFAKE0", "Even"}));
    }
};

QTEST_MAIN(tst_comsettings)
#include "tst_comsettings.moc"
