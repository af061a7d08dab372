#pragma once

// The dialog that writes the annual dose statistics of a year.

#include <QDialog>

#include <memory>

class DataBase;
class QShowEvent;

namespace Ui {
class StatisticsDialog;
}

// "年度剂量统计": the statistics of a year (one department or all) saved
// as PDF or as workbook. The file name comes through ReportPrompt.
class StatisticsDialog : public QDialog
{
    Q_OBJECT

public:
    StatisticsDialog(QWidget* parent, DataBase* database);
    ~StatisticsDialog() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Reads the statistics, asks for the file and writes it; every outcome
    // is told in a message box.
    void save(bool workbook);

    std::unique_ptr<Ui::StatisticsDialog> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("statistics.db");
};
