#pragma once

// The dialog of every person's dose figures and level as of a chosen day.

#include <QDialog>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>

#include "core/dose/PersonStatus.h"

class DataBase;
class QComboBox;
class QShowEvent;
class QStandardItemModel;

namespace Ui {
class DoseOverview;
}

// "剂量概览": every person's figures and level as of the end of the chosen
// day, the same table dosectl status prints; sortable and exportable.
class DoseOverview : public QDialog
{
    Q_OBJECT

public:
    // Where the workbook path comes from; empty asks with the save-file dialog.
    using SaveFileName = std::function<QString(QWidget* parent)>;
    static void setSaveFileName(SaveFileName ask);

    DoseOverview(QWidget* parent, DataBase* database);
    ~DoseOverview() override;

    // box refilled with 全部 and every department, keeping its choice.
    static void listDepartments(QComboBox* box, DataBase* database, const QString& connName);

public slots:
    void reload();

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void exportWorkbook();

private:
    std::unique_ptr<Ui::DoseOverview> ui;
    DataBase* database = nullptr;
    QStandardItemModel* model = nullptr;
    // The last reload read every figure; a table that failed is not exported.
    bool readable = false;
    // The rows shown, by ID card, as the workbook takes them.
    QHash<QString, PersonStatus> shown;
    const QString connName = QStringLiteral("overview.db");
};
