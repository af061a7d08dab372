// Where the program's files may go: never over the register, its -wal/-shm or another database (an
// earlier backup aside), over an existing file only when confirmed, always under the format's
// ending; and a writer that fails leaves neither the file nor a temporary one.

#include <QtTest>
#include <QtWidgets>
#include <QPrinter>

#include <unistd.h>

#include "desktop/DoseOverview.h"
#include "desktop/SqlSelect.h"
#include "desktop/DoseReport.h"
#include "desktop/ReportPrompt.h"
#include "core/export/OutputFile.h"
#include "support/FormDriver.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

namespace {

QByteArray bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void put(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

QStringList listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// The register in WAL mode beside other databases, an earlier backup, old files and links.
void furnish(ScratchDatabase& s)
{
    s.addPerson("C3", "丙");
    s.store->ensureWearingTable(s.db);
    QCOMPARE(s.value("pragma journal_mode = wal").toString(), QStringLiteral("wal"));
    QVERIFY(s.count("Staff") == 1 && QFile::exists(s.path("database.db-wal")) && QFile::exists(s.path("database.db-shm")));
    QVERIFY(QDir().mkpath(s.path("other")));
    for (const char* database : {"other/database.db", "other.pdf", "backup.db"})
        valueIn(s.path(database), "create table t(x)");
    valueIn(s.path("backup.db"), "pragma application_id = 0x444F5345");
    put(s.path("old.pdf"), "old");
    put(s.path("old.db"), "old");
    put(s.path("other/database.db-journal"), "");
    for (const QString link : {"db.pdf database.db", "db.db database.db", "wal.pdf database.db-wal", "shm.xlsx database.db-shm",
                               "journal.pdf other/database.db-journal"})
        QVERIFY(QFile::link(s.path(link.section(' ', 1)), s.path(link.section(' ', 0, 0))));
    QCOMPARE(::link("database.db-shm", "hard.pdf"), 0);
}

} // namespace

class TestOutputs : public QObject
{
    Q_OBJECT

private slots:
    void targets_data()
    {
        QTest::addColumn<QString>("args");   // after "dosectl"; {} is the target
        QTest::addColumn<QString>("target"); // unchanged when refused, a new file of its format when written
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("why"); // in the reason
        const QString person = "report person C3 --pdf {}", department = "report department --all --from "
                                                                         "2023-01-01 --to 2023-12-31 --xlsx {}";
        QTest::newRow("database") << "backup {} --force" << "database.db" << 1 << "正在使用的数据库，";
        QTest::newRow("database by ./ and ..") << "backup {} --force" << "./other/../database.db" << 1 << "正在使用的数据库，";
        QTest::newRow("link to the database") << person << "db.pdf" << 1 << "正在使用的数据库，";
        QTest::newRow("backup over a link to it") << "backup {} --force" << "db.db" << 1 << "正在使用的数据库，";
        QTest::newRow("its -wal") << person << "wal.pdf" << 1 << "数据库的 -wal";
        QTest::newRow("hard link to its -shm") << person << "hard.pdf" << 1 << "数据库的 -shm";
        QTest::newRow("its -shm") << department << "shm.xlsx" << 1 << "数据库的 -shm";
        QTest::newRow("another register's -journal") << person << "journal.pdf" << 1 << "database.db 的 -journal";
        QTest::newRow("another SQLite file") << person + " --force" << "other.pdf" << 1 << "数据库文件（SQLite）";
        QTest::newRow("another register") << "backup {} --force" << "other/database.db" << 1 << "数据库文件（SQLite）";
        QTest::newRow("earlier backup") << "backup {}" << "backup.db" << 1 << "已存在";
        QTest::newRow("earlier backup, --force") << "backup {} --force" << "backup.db" << 0 << "";
        QTest::newRow("existing file") << person << "old.pdf" << 1 << "已存在";
        QTest::newRow("existing file, --force") << person + " --force" << "old.pdf" << 0 << "";
        QTest::newRow("existing file, backup --force") << "backup {} --force" << "old.db" << 0 << "";
        QTest::newRow("wrong ending") << person << "x.docx" << 2 << "应以 .pdf 结尾";
        QTest::newRow("missing ending") << department << "x" << 2 << "缺少结尾 .xlsx";
        QTest::newRow("backup, wrong ending") << "backup {} --force" << "database.db-wal" << 2 << "应以 .db 结尾";
        QTest::newRow("upper-case ending") << department << "X.XLSX" << 0 << "";
        QTest::newRow("upper-case backup") << "backup {}" << "B.DB" << 0 << "";
    }
    void targets()
    {
        QFETCH(QString, args);
        QFETCH(QString, target);
        QFETCH(int, code);
        QFETCH(QString, why);
        ScratchDatabase s;
        furnish(s);
        const QByteArray before = bytes(target);
        const QStringList files = listing(s.dir.path());
        QString err;
        const int rc = ctl(args.replace("{}", target).split(' '), nullptr, &err);
        QVERIFY2(rc == code && err.contains(why), qPrintable(QString::number(rc) + ": " + err));
        if (code != 0) {
            QVERIFY2(bytes(target) == before, qPrintable(err));
            QCOMPARE(listing(s.dir.path()), files);
            QVERIFY2(err.startsWith("dosectl: ") && (code == 2 || err.count('\n') == 1), qPrintable(err));
            return;
        }
        const QString ending = QFileInfo(target).suffix().toLower();
        QVERIFY(bytes(target).startsWith(ending == "pdf" ? "%PDF" : ending == "xlsx" ? "PK" : "SQLite format 3"));
        QSet<QString> expected(files.cbegin(), files.cend());
        expected << QFileInfo(target).fileName();
        const QStringList after = listing(s.dir.path());
        QVERIFY2(QSet<QString>(after.cbegin(), after.cend()) == expected, qPrintable(after.join(' ') + " / " + files.join(' '))); // no temporary left
    }

    // The dialogs' saves and prints to a file refuse the register behind a link of the right ending,
    // and a typed wrong ending.
    void dialogRefuses_data()
    {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("box"); // title: text before the path
        const QString linked = "这是正在使用的数据库，不能写入：";
        QTest::newRow("overview") << "overview" << "btnExport" << "register.xlsx" << "剂量概览: 未能保存: " + linked;
        QTest::newRow("overview, wrong ending") << "overview" << "btnExport" << "overview.txt"
                                                << "剂量概览: 未能保存: 文件名应以 .xlsx 结尾：";
        QTest::newRow("report") << "report" << "btnPdf" << "register.pdf" << "剂量报表: 未能保存: " + linked;
        QTest::newRow("report's print") << "report" << "btnPrint" << "register.pdf" << "剂量报表: 打印失败: " + linked;
        QTest::newRow("query's print") << "query" << "btnPrint" << "register.pdf" << "打印: 打印失败: " + linked;
    }
    void dialogRefuses()
    {
        QFETCH(QString, dialog);
        QFETCH(QString, button);
        QFETCH(QString, chosen);
        QFETCH(QString, box);
        ScratchDatabase s;
        s.addPerson("C3", "丙");
        s.store->ensureWearingTable(s.db);
        for (const char* link : {"register.xlsx", "register.pdf"})
            QVERIFY(QFile::link(s.path("database.db"), s.path(link)));
        const QByteArray before = bytes(s.path("database.db"));
        const QStringList files = listing(s.dir.path());
        const auto choose = [&](QWidget*, const QString& = QString()) { return s.path(chosen); };
        const auto printTo = [&](QPrinter* printer, QWidget*) { printer->setOutputFileName(s.path(chosen)); return true; };
        DoseOverview::setSaveFileName(choose);
        ReportPrompt::setSaveFileName(choose);
        ReportPrompt::setPrintDialog(printTo);
        SqlSelect::setPrintSetup([&](QPrinter& printer, QWidget* parent) { return printTo(&printer, parent); });
        std::unique_ptr<QDialog> view;
        if (dialog == "overview")
            view = std::make_unique<DoseOverview>(nullptr, s.store.get());
        else if (dialog == "report")
            view = std::make_unique<DoseReport>(nullptr, s.store.get());
        else
            view = std::make_unique<SqlSelect>(nullptr, s.store.get());
        view->show();
        if (auto* search = view->findChild<QPushButton*>("btnSearch"))
            QTest::mouseClick(search, Qt::LeftButton);
        {
            ModalScript script;
            script.box(box.section(": ", 0, 0), box.section(": ", 1) + s.path(chosen), QMessageBox::Ok, view.get());
            QTest::mouseClick(FormDriver::child<QPushButton>(view.get(), qPrintable(button)), Qt::LeftButton);
            ANSWERED(script);
        }
        DoseOverview::setSaveFileName({});
        ReportPrompt::setSaveFileName({});
        ReportPrompt::setPrintDialog({});
        SqlSelect::setPrintSetup({});
        QVERIFY(bytes(s.path("database.db")) == before);
        QCOMPARE(listing(s.dir.path()), files);
    }

    // The real save dialog: a name typed without its ending gets it, and the dialog's question about
    // the file of that name is what lets the export replace it.
    void saveDialogConfirms()
    {
        ScratchDatabase s;
        s.addPerson("C3", "丙");
        s.store->ensureWearingTable(s.db);
        put(s.path("overview.xlsx"), "old");
        DoseOverview view(nullptr, s.store.get());
        view.show();
        ModalScript script;
        script.expect("剂量概览", [&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog)
                return QStringLiteral("no file dialog");
            dialog->setDirectory(s.dir.path());
            FormDriver::child<QLineEdit>(dialog, "fileNameEdit")->setText("overview");
            auto* save = FormDriver::child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Save);
            QTest::mouseClick(save, Qt::LeftButton);
            return QString();
        });
        script.expect("剂量概览", [](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->text().startsWith("overview.xlsx already exists"))
                return QStringLiteral("no question about overview.xlsx");
            QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
            return QString();
        });
        script.box("剂量概览", "1 人的剂量已导出到 " + s.path("overview.xlsx"), QMessageBox::Ok, &view);
        QTest::mouseClick(FormDriver::child<QPushButton>(&view, "btnExport"), Qt::LeftButton);
        ANSWERED(script);
        QVERIFY(bytes(s.path("overview.xlsx")).startsWith("PK\x03\x04")); // an .xlsx workbook now
    }

    // A writer that fails, over an earlier file it was allowed to replace.
    void failedWriter_data()
    {
        QTest::addColumn<bool>("stream"); // through QSaveFile, else into a path of its own
        QTest::addColumn<QString>("how");
        for (const bool stream : {false, true}) {
            const char* kind = stream ? "stream: " : "path: ";
            for (const char* how : {"fails", "writes nothing", "loses its folder"})
                QTest::newRow(qPrintable(kind + QString(how))) << stream << how;
        }
        QTest::newRow("path: leaves a journal") << false << "leaves a journal";
    }
    void failedWriter()
    {
        QFETCH(bool, stream);
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString folder = dir.filePath("out"), file = folder + "/old.pdf";
        QVERIFY(QDir().mkpath(folder));
        put(file, "old");
        // Writes, then does as the row says: true only for "writes nothing".
        const auto act = [&](const QString& written, QString* why) {
            if (how == "writes nothing")
                return true;
            if (how == "leaves a journal")
                put(written + "-wal", "pages");
            if (how == "loses its folder")
                QDir(folder).removeRecursively();
            *why = "produce failed";
            return how != "fails";
        };
        const OutputFile::Target target{file, true, QString()};
        QString why;
        const bool written = stream
            ? OutputFile::save(target, OutputFile::Format::Pdf,
                               [&](QIODevice& device, QString* reason) {
                                   return how == "writes nothing" || (device.write("new") == 3 && act(file, reason));
                               },
                               &why)
            : OutputFile::write(target, OutputFile::Format::Pdf,
                                [&](const QString& path, QString* reason) {
                                    if (how != "writes nothing")
                                        put(path, "new");
                                    return act(path, reason);
                                },
                                &why);
        QVERIFY(!written);
        QVERIFY(!why.isEmpty());
        QCOMPARE(listing(folder), how == "loses its folder" ? QStringList() : QStringList{"old.pdf"});
        QCOMPARE(bytes(file), how == "loses its folder" ? QByteArray("<none>") : QByteArray("old"));
    }
};

QTEST_MAIN(TestOutputs)
#include "tst_outputs.moc"
