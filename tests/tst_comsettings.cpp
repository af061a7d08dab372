#include <QtTest>
#include <QtWidgets>

#include "core/device/SettingsAdpater.h"
#include "desktop/ComParaSettings.h"
#include "core/device/SerialPort.h"
#include "support/ModalScript.h"

// 串口设置 shows the ports as the link numbers and opens them, and stores only the names the officer gives.
class tst_comsettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QList<PortDescription> found{{"ttyFAKE0", {}, {}, {}}, {"ttyFAKE1", {}, {}, {}}}; // by the link's lister
    QString file = dir.filePath("zudovi.ini");

    static QComboBox* combo(QWidget& d, const char* name) { return d.findChild<QComboBox*>(name); }
    static QStringList items(QComboBox* box)
    {
        QStringList all;
        for (int i = 0; i < box->count(); ++i)
            all << box->itemText(i);
        return all;
    }
    // Slot, port, line and timeout as shown, and whether the port may be edited.
    static QString shown(QWidget& d)
    {
        QStringList f;
        for (const char* name : {"cmbporttype", "cmbPort", "cmbBaud", "cmbDataBits", "cmbStopBits", "cmbParity"})
            f << combo(d, name)->currentText();
        return f.join('|') + (combo(d, "cmbPort")->isEnabled() ? " edit" : " fixed")
            + (combo(d, "cmbBaud")->isEnabled() ? " baud-editable" : "");
    }
    static void retype(QComboBox* port, const QString& text)
    {
        port->lineEdit()->selectAll();
        QTest::keyClick(port->lineEdit(), Qt::Key_Delete);
        QTest::keyClicks(port->lineEdit(), text);
    }
    QStringList stored()
    {
        QStringList names;
        for (const Com_Info& i : SettingsAdpater(file, QSettings::IniFormat).getComList())
            names << i.SerialPort + "@" + i.Baud + i.Parity;
        return names;
    }

private slots:
    void initTestCase() { SerialPort::setPortLister([this] { return found; }); }

    void slotsFollowTheLinkAndOnlyNamesAreStored()
    {
        {
            // Nothing stored: the ports found, numbered, with the line in use, and no invented COM1/9600.
            SettingsAdpater settings(file, QSettings::IniFormat);
            ComParaSettings dialog(nullptr, &settings);
            dialog.show();
            QCOMPARE(items(combo(dialog, "cmbporttype")), QStringList({"1", "2", "新增"}));
            QCOMPARE(shown(dialog), QString("1|ttyFAKE0|38400|8|1|None fixed"));
        }
        {
            SettingsAdpater settings(file, QSettings::IniFormat);
            // /dev/null is a character device the link opens; the other name exists nowhere.
            settings.setComList({{0, "/dev/null", "9600", "7", "2", "Even", "Disable", "5", 0},
                                 {1, "/dev/nope0", "9600", "8", "1", "None", "Disable", "5", 1}});
            ComParaSettings dialog(nullptr, &settings);
            QSignalSpy changed(&dialog, &ComParaSettings::Compara_changge);
            dialog.show();
            QCOMPARE(items(combo(dialog, "cmbporttype")), QStringList({"1", "2", "3", "（未找到）", "新增"}));
            combo(dialog, "cmbporttype")->setCurrentIndex(2);
            QCOMPARE(shown(dialog), QString("3|/dev/null|38400|8|1|None edit")); // the stored 9600 7E2 is not in use
            combo(dialog, "cmbporttype")->setCurrentIndex(3);
            retype(combo(dialog, "cmbPort"), ""); // cleared: removed
            combo(dialog, "cmbporttype")->setCurrentIndex(4);
            retype(combo(dialog, "cmbPort"), "/dev/null"); // twice: refused, the dialog stays
            ModalScript script;
            script.box("串口设置", "串口 /dev/null 出现了两次，未保存。请删除其中一个。", QMessageBox::Ok, &dialog);
            QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
            ANSWERED(script);
            QVERIFY(dialog.isVisible());
            QCOMPARE(changed.count(), 0);
            retype(combo(dialog, "cmbPort"), "/dev/pts/77");
            QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(changed.count(), 1);
        }
        QCOMPARE(stored(), QStringList({"/dev/null@38400None", "/dev/pts/77@38400None"}));
        {
            // Cancel stores nothing.
            SettingsAdpater settings(file, QSettings::IniFormat);
            ComParaSettings dialog(nullptr, &settings);
            dialog.show();
            combo(dialog, "cmbporttype")->setCurrentIndex(2);
            retype(combo(dialog, "cmbPort"), "/dev/ttyS9");
            QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
            QVERIFY(!dialog.isVisible());
        }
        QCOMPARE(stored(), QStringList({"/dev/null@38400None", "/dev/pts/77@38400None"}));
    }
};

QTEST_MAIN(tst_comsettings)
#include "tst_comsettings.moc"
