#pragma once

// The dialog that sets the passive dosimeters' results against the electronic dose and closes their flags.

#include <QDialog>
#include <QList>

#include "core/dose/Reconciliation.h"

class DataBase;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QTableWidget;

// "剂量比对": the passive results whose periods touch the chosen days, of one
// department or all, each beside the electronic dose of its days; flagged
// results first and marked. 关闭标记 closes the selected flagged result's
// flag with the comment written beside it. Data that cannot be read leaves
// the table empty with the reason said, never a table that looks in order.
class ReconcileDialog : public QDialog
{
    Q_OBJECT

public:
    ReconcileDialog(QWidget* parent, DataBase* database);
    ~ReconcileDialog() override;

signals:
    // A flag was closed.
    void flagsChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void query();
    void closeFlag();

    DataBase* database = nullptr;
    QDateEdit* from = nullptr;
    QDateEdit* to = nullptr;
    QComboBox* department = nullptr;
    QPushButton* queryButton = nullptr;
    QTableWidget* table = nullptr;
    QLabel* summary = nullptr;
    QLineEdit* comment = nullptr;
    QPushButton* closeButton = nullptr;
    QList<Reconciliation::Row> rows;
    const QString connName = QStringLiteral("reconcile.db");
};
