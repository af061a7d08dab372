// Report file names and printers asked for, where a report may go checked, and a person's dose record written.

#include "desktop/ReportPrompt.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QStandardPaths>

#include "core/DataBase.h"
#include "core/time/Clock.h"
#include "core/report/PersonRecord.h"
#include "core/export/ReportDocument.h"
#include "core/export/ReportWorkbook.h"

namespace {

ReportPrompt::SaveFileName& savePrompt()
{
    static ReportPrompt::SaveFileName ask;
    return ask;
}

QString& lastFolder()
{
    static QString folder;
    return folder;
}

ReportPrompt::PrintDialog& printPrompt()
{
    static ReportPrompt::PrintDialog ask;
    return ask;
}

} // namespace

void ReportPrompt::setSaveFileName(SaveFileName ask)
{
    savePrompt() = std::move(ask);
}

void ReportPrompt::setPrintDialog(PrintDialog ask)
{
    printPrompt() = std::move(ask);
}

QString ReportPrompt::saveFileName(QWidget* parent, const QString& title, const QString& filter,
                                   const QString& suggested)
{
    if (savePrompt())
        return savePrompt()(parent, filter);
    const QString start = QFileInfo(suggested).isAbsolute() ? suggested : QDir(startFolder()).filePath(suggested);
    QFileDialog dialog(parent, title, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // Qt's own dialog adds the ending before it asks about replacing; a
    // desktop's dialog may ask about the name without it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The ending is added before the dialog looks for a file to replace, so
    // its question is about the name that will be written.
    const auto follow = [&dialog](const QString& chosen) {
        const QRegularExpressionMatch ending = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(chosen);
        dialog.setDefaultSuffix(ending.hasMatch() ? ending.captured(1) : QString());
    };
    follow(dialog.selectedNameFilter());
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
    const QString chosen = dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    if (!chosen.isEmpty())
        lastFolder() = QFileInfo(chosen).absolutePath();
    return chosen;
}

QString ReportPrompt::startFolder()
{
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir())
        return lastFolder();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

bool ReportPrompt::target(QWidget* parent, const QString& title, const QString& chosen,
                          const QList<OutputFile::Format>& formats, const QString& database, OutputFile::Target* target,
                          OutputFile::Format* format)
{
    const QString refused = OutputFile::fromDialog(chosen, formats, database, target, format);
    if (refused.isEmpty())
        return true;
    QMessageBox::critical(parent, title, QStringLiteral("未能保存: ") + refused);
    return false;
}

bool ReportPrompt::askPrinter(QPrinter* printer, QWidget* parent)
{
    if (printPrompt())
        return printPrompt()(printer, parent);
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool ReportPrompt::print(QWidget* parent, const QString& title, QPrinter& printer, const QString& database,
                         const Paint& paint)
{
    const QString file = printer.outputFileName();
    QString why;
    const bool printed = file.isEmpty()
        ? paint(printer, &why)
        : OutputFile::write(
            OutputFile::Target{file, true, database}, OutputFile::Format::Pdf,
            [&](const QString& temporary, QString* reason) {
                printer.setOutputFileName(temporary);
                const bool painted = paint(printer, reason);
                printer.setOutputFileName(file);
                return painted;
            },
            &why);
    if (!printed)
        QMessageBox::critical(parent, title, QStringLiteral("打印失败: ") + why);
    return printed;
}

void ReportPrompt::personRecord(QWidget* parent, DataBase* database, const QString& idCard)
{
    const QString title = QStringLiteral("个人剂量档案");
    if (idCard.isEmpty()) {
        QMessageBox::information(parent, title, QStringLiteral("请先选择人员"));
        return;
    }
    Staffdata person;
    {
        const QString conn = QStringLiteral("record.db");
        database->createConnection(conn);
        QSqlDatabase db = database->getConnection(conn);
        database->selectStaffByIdCard(person, idCard, db);
        db = QSqlDatabase();
        database->closeConnection(conn);
    }
    const QString suggested = QStringLiteral("剂量档案-%1-%2.pdf")
                                  .arg(person.name.isEmpty() ? idCard : person.name)
                                  .arg(Clock::now().date().year());
    const QString chosen =
        saveFileName(parent, title, QStringLiteral("PDF 文件 (*.pdf);;Excel 工作簿 (*.xlsx)"), suggested);
    OutputFile::Target file;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !target(parent, title, chosen, {OutputFile::Format::Pdf, OutputFile::Format::Xlsx}, database->filePath(),
                   &file, &format))
        return;
    const bool workbook = format == OutputFile::Format::Xlsx;

    const QString conn = QStringLiteral("record.db");
    PersonRecord record;
    QString why;
    bool loaded = false;
    {
        database->createConnection(conn);
        QSqlDatabase db = database->getConnection(conn);
        loaded = db.isOpen() && PersonRecord::load(*database, db, idCard, 0, 0, record, &why);
        db = QSqlDatabase();
        database->closeConnection(conn);
    }
    const bool written = loaded
        && (workbook ? ReportWorkbook::write(record, file, &why) : ReportDocument::writePdf(record, file, &why));
    if (written)
        QMessageBox::information(parent, title, QStringLiteral("已保存到 ") + file.path);
    else
        QMessageBox::critical(parent, title, QStringLiteral("未能保存: ") + why);
}
