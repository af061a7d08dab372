// The import of a laboratory file from the menu: the open dialog, the import with its wait cursor, the question about an
// amendment and the message of the outcome.

#include "desktop/PassiveImportAction.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "core/DataBase.h"
#include "core/import/PassiveImport.h"
#include "desktop/ReportPrompt.h"

namespace {

QString& lastFolder()
{
    static QString folder;
    return folder;
}

// At most this many refused rows in a message box; the rest are counted.
const int kShownLines = 30;

QString listed(const QStringList& lines)
{
    QStringList shown = lines.mid(0, kShownLines);
    if (lines.size() > kShownLines)
        shown << QStringLiteral("……共 %1 行有错误").arg(lines.size());
    return shown.join(QLatin1Char('\n'));
}

// The import on a connection of its own, open only while it runs.
PassiveImport::Outcome imported(DataBase* database, const QString& path, bool replace)
{
    const QString name = QStringLiteral("passiveimport.db");
    PassiveImport::Options options;
    options.replace = replace;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    database->createConnection(name);
    database->openConnection(name);
    PassiveImport::Outcome o;
    QSqlDatabase db = database->getConnection(name);
    if (db.isOpen())
        o = PassiveImport(*database, db).run(path, options);
    else
        o.error = QStringLiteral("无法打开数据库 ") + database->storeConfig().describe();
    db = QSqlDatabase();
    database->closeConnection(name);
    QApplication::restoreOverrideCursor();
    return o;
}

} // namespace

const char* const PassiveImportAction::kTitle = "导入个人剂量计结果";

void PassiveImportAction::run(QWidget* parent, DataBase* database)
{
    const QString title = QString::fromUtf8(kTitle);
    const QString start = !lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir() ? lastFolder()
                                                                                      : ReportPrompt::startFolder();
    QFileDialog dialog(parent, title, start,
                       QStringLiteral("实验室结果 (*.csv *.xls *.xlsx);;所有文件 (*)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().first();
    lastFolder() = QFileInfo(path).absolutePath();

    PassiveImport::Outcome o = imported(database, path, false);
    if (o.result == PassiveImport::Result::Refused && o.onlyOverlaps) {
        const QString question = QStringLiteral("%1 中的结果与已导入的结果重叠：\n%2\n\n这是实验室的更正结果吗？"
                                                "选“是”由本文件替换重叠的结果（原结果保留，标为已替换）。")
                                     .arg(QFileInfo(path).fileName(), listed(o.refusals));
        if (QMessageBox::question(parent, title, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes) {
            QMessageBox::information(parent, title, QStringLiteral("文件未导入，未作更改"));
            return;
        }
        o = imported(database, path, true);
    }
    const QString warnings = o.warnings.isEmpty() ? QString()
                                                  : QStringLiteral("\n\n注意：\n") + listed(o.warnings);
    switch (o.result) {
    case PassiveImport::Result::Imported:
    case PassiveImport::Result::WouldImport:
        QMessageBox::information(parent, title,
                                 QStringLiteral("已导入 %1 条结果（%2）").arg(o.rows.size()).arg(o.file.fileName)
                                     + (o.replaced.isEmpty() ? QString()
                                                             : QStringLiteral("，替换了 %1 条已导入的结果").arg(o.replaced.size()))
                                     + warnings);
        break;
    case PassiveImport::Result::AlreadyImported:
        QMessageBox::information(parent, title,
                                 QStringLiteral("此文件已导入过（%1，%2），未作更改").arg(o.file.importedAt, o.file.importedBy));
        break;
    case PassiveImport::Result::Refused:
        QMessageBox::warning(parent, title,
                             QStringLiteral("文件未导入，以下各行有错误：\n") + listed(o.refusals) + warnings);
        break;
    case PassiveImport::Result::Failed:
        QMessageBox::warning(parent, title, QStringLiteral("导入失败：") + o.error);
        break;
    }
}
