#include "report/ReportPrompt.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QSqlDatabase>

#include "db/DataBase.h"
#include "report/PersonRecord.h"
#include "report/ReportDocument.h"
#include "report/ReportWorkbook.h"

namespace {

ReportPrompt::SaveFileName& savePrompt()
{
    static ReportPrompt::SaveFileName ask;
    return ask;
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

QString ReportPrompt::saveFileName(QWidget* parent, const QString& title, const QString& filter)
{
    if (savePrompt())
        return savePrompt()(parent, filter);
    return QFileDialog::getSaveFileName(parent, title, QString(), filter);
}

bool ReportPrompt::askPrinter(QPrinter* printer, QWidget* parent)
{
    if (printPrompt())
        return printPrompt()(printer, parent);
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

void ReportPrompt::personRecord(QWidget* parent, DataBase* database, const QString& idCard)
{
    const QString title = QStringLiteral("个人剂量档案");
    if (idCard.isEmpty()) {
        QMessageBox::information(parent, title, QStringLiteral("请先选择人员"));
        return;
    }
    QString path = saveFileName(parent, title, QStringLiteral("PDF 文件 (*.pdf);;Excel 工作簿 (*.xlsx)"));
    if (path.isEmpty())
        return;
    const bool workbook = QFileInfo(path).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0;
    if (!workbook && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");

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
        && (workbook ? ReportWorkbook::write(record, path, &why) : ReportDocument::writePdf(record, path, &why));
    if (written)
        QMessageBox::information(parent, title, QStringLiteral("已保存到 ") + path);
    else
        QMessageBox::critical(parent, title, QStringLiteral("未能保存: ") + why);
}
