#include <QtTest>
#include <QtWidgets>

#include "core/device/SettingsAdpater.h"
#include "desktop/ComParaSettings.h"
#include "core/device/SerialPort.h"
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
    static Com_Info slot(int n, const QString& port) { return {n, port, "38400", "8", "1", "None", "NoFlowControl", "5", n}; }
    QString now(const char* name) { return combo(name)->currentText(); } // empty: nothing selected
    QString fields() // slot, port, baud, data bits, stop bits, parity, flow control, timeout
    {
        return QStringList({now("cmbporttype"), now("cmbPort"), now("cmbBaud"), now("cmbDataBits"), now("cmbStopBits"),
                            now("cmbParity"), now("cmbRTS"), dialog.findChild<QSpinBox*>()->cleanText()}).join('|');
    }

private slots:
    void initTestCase() { SerialPort::setPortLister([this] { return found; }); }

    void refusalsKeepWhatWasTypedAndStoreNothing()
    {
        ModalScript script;
        script.box("com setting", "串口号不对，不保存参数!").box("com setting", "串口已选用!");
        script.box("com setting", "串口号重复，不保存参数!").box("com setting", "串口号不对，不保存参数!");
        settings.setComList({{3, "/dev/ttyA", "38400", "8", "1", "None", "NoFlowControl", "5", 5}}); // not slot 1's own
        dialog.show(); // showing commits nothing, even when it shows another slot
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        settings.setComList({{0, "/dev/ttyA", "38400", "8", "1", "none", "Disable", "5", 0}, slot(1, "/dev/ttyB")});
        dialog.show();
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
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        ANSWERED(script);
        dialog.show(); // the store again; the lists afresh: the lister's ports first, each name once, no fifth item
        QCOMPARE(fields() + combo("cmbPort")->itemText(4) + combo("cmbRTS")->itemText(4), QString("1|/dev/ttyA|38400|8|1|||5"));
        QCOMPARE(combo("cmbPort")->itemText(0) + combo("cmbPort")->itemText(3), QString("ttyFAKE0/dev/ttyA"));
        QSignalSpy changed(&dialog, &ComParaSettings::Compara_changge);
        select("cmbBaud", "115200");
        dialog.findChild<QSpinBox*>()->setValue(7);
        combo("cmbporttype")->setCurrentIndex(1);
        combo("cmbPort")->setEditText("/dev/ttyC"); // a typed name is what OK stores
        combo("cmbporttype")->setCurrentIndex(5); // beyond the list: "Add Port" with the first slot's values
        QCOMPARE(fields(), QString("6|Add Port|115200|8|1|||7"));
        QVERIFY(dialog.PrechangesIdx(5) == 1 && dialog.workingList().size() == 2); // "Add Port" there adds nothing
        select("cmbPort", "ttyFAKE0");
        select("cmbParity", "Even");
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(changed.count(), 1);
        const QList<Com_Info> s = SettingsAdpater(dir.filePath("zudovi.ini"), QSettings::IniFormat).getComList();
        QCOMPARE(QStringList({QString::number(s.size()), s.value(1).SerialPort, s.value(2).SerialPort, s.value(2).Parity}),
                 QStringList({"3", "/dev/ttyC", "ttyFAKE0", "Even"}));
    }
};

QTEST_MAIN(tst_comsettings)
#include "tst_comsettings.moc"
