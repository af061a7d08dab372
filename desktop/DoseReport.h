#pragma once

// The dialog that makes the department report of a period.

#include <QDialog>

#include <memory>

class DataBase;
class PeriodReport;
class QShowEvent;

namespace Ui {
class DoseReport;
}

// "剂量报表": the department report of a period (one department or all) as
// PDF, as workbook or on paper. File names and the printer come through
// ReportPrompt.
class DoseReport : public QDialog
{
    Q_OBJECT

public:
    DoseReport(QWidget* parent, DataBase* database);
    ~DoseReport() override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void savePdf();
    void saveWorkbook();
    void print();

private:
    // The report of the chosen department and dates; false (having told the
    // operator why) when there is nothing to report.
    bool load(PeriodReport& report);
    void save(bool workbook);

    std::unique_ptr<Ui::DoseReport> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("report.db");
};
