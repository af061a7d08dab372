// The annual dose statistics of the chosen year and department, saved as PDF or workbook.

#include "desktop/StatisticsDialog.h"

#include <QMessageBox>
#include <QShowEvent>
#include <QSqlDatabase>

#include "core/DataBase.h"
#include "core/export/ReportDocument.h"
#include "core/export/ReportWorkbook.h"
#include "core/report/AnnualStatistics.h"
#include "core/time/Clock.h"
#include "desktop/DoseOverview.h"
#include "desktop/ReportPrompt.h"
#include "ui_StatisticsDialog.h"

StatisticsDialog::StatisticsDialog(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::StatisticsDialog>())
    , database(database)
{
    ui->setupUi(this);
    // The year just closed is the one reported.
    ui->sb_year->setValue(Clock::now().date().year() - 1);
    database->createConnection(connName);
    connect(ui->btnPdf, &QPushButton::clicked, this, [this] { save(false); });
    connect(ui->btnXlsx, &QPushButton::clicked, this, [this] { save(true); });
}

StatisticsDialog::~StatisticsDialog() = default;

void StatisticsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    DoseOverview::listDepartments(ui->cb_depart, database, connName);
}

void StatisticsDialog::save(bool workbook)
{
    const QString department = ui->cb_depart->currentIndex() > 0 ? ui->cb_depart->currentText() : QString();
    AnnualStatistics statistics;
    QString why;
    database->openConnection(connName);
    QSqlDatabase db = database->getConnection(connName);
    const bool loaded = db.isOpen()
        && AnnualStatistics::load(*database, db, department, ui->sb_year->value(), statistics, &why);
    db = QSqlDatabase();
    database->closeConnection(connName);
    if (!loaded) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("无法统计: ") + why);
        return;
    }
    const QString chosen = ReportPrompt::saveFileName(this, windowTitle(),
                                                      workbook ? QStringLiteral("Excel 工作簿 (*.xlsx)")
                                                               : QStringLiteral("PDF 文件 (*.pdf)"));
    OutputFile::Target file;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !ReportPrompt::target(this, windowTitle(), chosen,
                                 {workbook ? OutputFile::Format::Xlsx : OutputFile::Format::Pdf},
                                 database->filePath(), &file, &format))
        return;
    const bool written = workbook ? ReportWorkbook::write(statistics, file, &why)
                                  : ReportDocument::writePdf(statistics, file, &why);
    if (written)
        QMessageBox::information(this, windowTitle(), QStringLiteral("已保存到 ") + file.path);
    else
        QMessageBox::critical(this, windowTitle(), QStringLiteral("未能保存: ") + why);
}
