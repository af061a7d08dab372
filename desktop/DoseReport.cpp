// The department report of the chosen department and dates, saved as PDF or workbook or printed.

#include "desktop/DoseReport.h"

#include <QMessageBox>
#include <QPrinter>
#include <QShowEvent>
#include <QSqlDatabase>

#include "core/time/Clock.h"
#include "core/DataBase.h"
#include "desktop/DoseOverview.h"
#include "core/report/PeriodReport.h"
#include "core/export/ReportDocument.h"
#include "desktop/ReportPrompt.h"
#include "core/export/ReportWorkbook.h"
#include "ui_DoseReport.h"

DoseReport::DoseReport(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DoseReport>())
    , database(database)
{
    ui->setupUi(this);
    const QDate today = Clock::now().date();
    ui->de_from->setDate(QDate(today.year(), 1, 1));
    ui->de_to->setDate(today);
    database->createConnection(connName);
    connect(ui->btnPdf, &QPushButton::clicked, this, &DoseReport::savePdf);
    connect(ui->btnXlsx, &QPushButton::clicked, this, &DoseReport::saveWorkbook);
    connect(ui->btnPrint, &QPushButton::clicked, this, &DoseReport::print);
}

DoseReport::~DoseReport() = default;

void DoseReport::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    DoseOverview::listDepartments(ui->cb_depart, database, connName);
}

bool DoseReport::load(PeriodReport& report)
{
    const QString department = ui->cb_depart->currentIndex() > 0 ? ui->cb_depart->currentText() : QString();
    const QDate from = ui->de_from->date();
    const QDate to = ui->de_to->date();
    if (to < from) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("结束日期早于开始日期"));
        return false;
    }
    if (!PeriodReport::periodProblem(from, to).isEmpty()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("报表期间不能超过10年"));
        return false;
    }
    QString why;
    database->openConnection(connName);
    QSqlDatabase db = database->getConnection(connName);
    const bool ok = db.isOpen() && PeriodReport::load(*database, db, department, from, to, report, &why);
    db = QSqlDatabase();
    database->closeConnection(connName);
    if (!ok) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("无法生成报表: ") + why);
        return false;
    }
    if (report.people() == 0) {
        QMessageBox::information(this, windowTitle(), QStringLiteral("所选部门没有人员"));
        return false;
    }
    return true;
}

void DoseReport::save(bool workbook)
{
    PeriodReport report;
    if (!load(report))
        return;
    const QString suggested = QStringLiteral("剂量报表-%1-%2至%3.%4")
                                  .arg(report.department.isEmpty() ? QStringLiteral("全部") : report.department,
                                       report.from.toString(QStringLiteral("yyyy-MM-dd")),
                                       report.to.toString(QStringLiteral("yyyy-MM-dd")),
                                       workbook ? QStringLiteral("xlsx") : QStringLiteral("pdf"));
    const QString chosen = ReportPrompt::saveFileName(this, windowTitle(),
                                                      workbook ? QStringLiteral("Excel 工作簿 (*.xlsx)")
                                                               : QStringLiteral("PDF 文件 (*.pdf)"),
                                                      suggested);
    OutputFile::Target file;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !ReportPrompt::target(this, windowTitle(), chosen,
                                 {workbook ? OutputFile::Format::Xlsx : OutputFile::Format::Pdf},
                                 database->filePath(), &file, &format))
        return;
    QString why;
    const bool written = workbook ? ReportWorkbook::write(report, file, &why)
                                  : ReportDocument::writePdf(report, file, &why);
    if (written)
        QMessageBox::information(this, windowTitle(), QStringLiteral("已保存到 ") + file.path);
    else
        QMessageBox::critical(this, windowTitle(), QStringLiteral("未能保存: ") + why);
}

void DoseReport::savePdf()
{
    save(false);
}

void DoseReport::saveWorkbook()
{
    save(true);
}

void DoseReport::print()
{
    PeriodReport report;
    if (!load(report))
        return;
    QPrinter printer(QPrinter::HighResolution);
    if (!ReportPrompt::askPrinter(&printer, this))
        return;
    ReportPrompt::print(this, windowTitle(), printer, database->filePath(),
                        [&report](QPrinter& p, QString* why) { return ReportDocument::render(report, p, why); });
}
