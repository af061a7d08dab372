// 操作 → 导入个人剂量计结果 driven through the main window: the open dialog, the message of an import, the question about an
// amendment, and a file imported twice.

#include <QtTest>
#include <QtWidgets>

#include "core/device/SerialPort.h"
#include "core/device/SettingsAdpater.h"
#include "core/store/Transaction.h"
#include "desktop/MainWindow.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

namespace {

void put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

// Picks name in folder in the real open dialog and presses its Open button.
ModalScript::Action choose(const QString& folder, const QString& name)
{
    return [folder, name](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (!dialog)
            return QStringLiteral("no file dialog");
        dialog->setDirectory(folder);
        auto* edit = FormDriver::child<QLineEdit>(dialog, "fileNameEdit");
        edit->clear();
        QTest::keyClicks(edit, name);
        QTest::mouseClick(FormDriver::child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Open),
                          Qt::LeftButton);
        return dialog->isVisible() ? QStringLiteral("the dialog stayed open") : QString();
    };
}

} // namespace

class TestPassiveDialog : public QObject
{
    Q_OBJECT

private slots:
    void importAmendRepeat()
    {
        ScratchDatabase s;
        SerialPort::setPortLister([] { return QList<PortDescription>(); });
        SettingsAdpater settings(s.path("zudovi.ini"), QSettings::IniFormat);
        s.addPerson("c1", "甲");
        s.addPerson("c2", "乙");
        MainWindow window(nullptr, &settings, s.store.get());
        window.show();
        auto* action = window.findChild<QAction*>("action_import_passive");
        QVERIFY(window.findChild<QMenu*>("menu")->actions().contains(action)); // the menu "操作"
        QCOMPARE(action->text(), QStringLiteral("导入个人剂量计结果"));

        QVERIFY(QDir().mkpath(s.path("lab")));
        put(s.path("lab/lab.csv"), "身份证号,姓名,开始日期,结束日期,Hp(10) μSv,备注\n"
                                   "c1,甲,2026-01-01,2026-01-31,12.345,\n"
                                   "c2,乙二,2026-01-01,2026-01-31,,M\n");
        put(s.path("lab/amended.csv"), "ID,start,end,Hp(10)\nc1,2026-01-01,2026-01-31,0.02\n");
        const QString title = "导入个人剂量计结果";
        {
            ModalScript script;
            script.expect(title, choose(s.path("lab"), "lab.csv"));
            script.box(title, "已导入 2 条结果（lab.csv）\n\n注意：\nline 3: 姓名“乙二”与登记的“乙”不同（身份证号 c2），按身份证号导入",
                       QMessageBox::Ok, &window);
            action->trigger();
            ANSWERED(script);
        }
        QCOMPARE(s.list("select ID_card, hp10_uSv, code from PassiveResult order by id"), QString("c1 12.35 ,c2  M"));
        {
            // The dialog starts where the last file came from.
            ModalScript script;
            script.expect(title, [&](QWidget* w) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                if (!dialog || QDir(dialog->directory()) != QDir(s.path("lab")))
                    return QStringLiteral("not in the folder of the last import");
                return choose(s.path("lab"), "amended.csv")(w);
            });
            script.boxStarting(title, "amended.csv 中的结果与已导入的结果重叠：\nline 2: 与已导入的结果重叠（lab.csv 第 2 行",
                               QMessageBox::Yes, &window);
            script.box(title, "已导入 1 条结果（amended.csv），替换了 1 条已导入的结果", QMessageBox::Ok, &window);
            action->trigger();
            ANSWERED(script);
        }
        QCOMPARE(s.list("select ID_card, hp10_uSv, coalesce(replacedBy, 0) from PassiveResult order by id"),
                 QString("c1 12.35 2,c2  0,c1 20 0"));
        {
            ModalScript script;
            script.expect(title, choose(s.path("lab"), "lab.csv"));
            script.box(title,
                       QString("此文件已导入过（%1，%2），未作更改")
                           .arg(s.value("select importedAt from PassiveImport where id = 1").toString(), Transaction::actor()),
                       QMessageBox::Ok, &window);
            action->trigger();
            ANSWERED(script);
        }
        QCOMPARE(s.count("PassiveImport") * 10 + s.count("PassiveResult"), 23);
        SerialPort::setPortLister({});
    }
};

QTEST_MAIN(TestPassiveDialog)
#include "tst_passivedialog.moc"
