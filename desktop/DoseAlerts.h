#pragma once

// The dialog of the dose alerts and their acknowledgement.

#include <QDialog>

#include <memory>

class DataBase;
class QStandardItemModel;

namespace Ui {
class DoseAlerts;
}

// "剂量告警": the alerts raised, newest first, and their acknowledgement.
// Modeless, so that the main window stays usable while it is open.
class DoseAlerts : public QDialog
{
    Q_OBJECT

public:
    DoseAlerts(QWidget* parent, DataBase* database);
    ~DoseAlerts() override;

    // Reads the alerts again (after an evaluation, a changed filter).
    void reload();
    // Alerts not yet acknowledged; -1 when the database cannot be read.
    int unacknowledged();

private slots:
    void acknowledge();

private:
    std::unique_ptr<Ui::DoseAlerts> ui;
    DataBase* database = nullptr;
    QStandardItemModel* model = nullptr;
    const QString connName = QStringLiteral("alerts.db");
};
