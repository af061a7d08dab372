#pragma once

// The department list, from which departments are added, changed and deleted.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

#include "desktop/RecordList.h"

class AddDepart;
class DataBase;
class ModDepart;
class QModelIndex;
class SettingsAdpater;

namespace Ui {
class DepartInfo;
}

// "部门信息查询": lists the departments, filters them by name and leads to
// adding, modifying and deleting one.
class DepartInfo : public QDialog
{
    Q_OBJECT

public:
    DepartInfo(QWidget* parent, SettingsAdpater* settings, DataBase* database);
    ~DepartInfo() override;

public slots:
    void ModifyDepart();
    void addDepart();
    void Search();
    void Quit();
    void Dell();
    void view(const QModelIndex& index);

private:
    // The clicked department's id while it still exists, else 0.
    int selectedDepartment();

    std::unique_ptr<Ui::DepartInfo> ui;
    SettingsAdpater* settings = nullptr;
    DataBase* database = nullptr;
    AddDepart* addDepartDialog = nullptr;
    ModDepart* modDepartDialog = nullptr;
    const QString connName = QStringLiteral("depart.db");
    QSqlDatabase db;
    RecordList list{this};
};
