#pragma once

// The staff list, from which people are added, changed and deleted and their dose records made.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

#include "desktop/RecordList.h"

struct Staffdata;

class AddStaff;
class DataBase;
class ModifyStaff;
class QModelIndex;
class SettingsAdpater;

namespace Ui {
class Infomation;
}

// "人员信息查询": lists the staff, filters them by name and leads to adding,
// modifying and deleting a person.
class Infomation : public QDialog
{
    Q_OBJECT

public:
    Infomation(QWidget* parent, SettingsAdpater* settings, DataBase* database);
    ~Infomation() override;

public slots:
    void Modifystaff();
    void Addstaff();
    void Search();
    void Quit();
    void Dell();
    // The selected person's dose record (个人剂量档案), as PDF or workbook.
    void Record();
    void view(const QModelIndex& index);

private:
    // The clicked person's id while that person still exists, else 0.
    int selectedPerson();
    // QMessageBox::Yes keeps the history, No deletes it, anything else
    // (Escape, the window's close button) deletes nothing.
    // Says why and is true when the person has dose adjustments (or they cannot be read).
    bool hasAdjustments(int id);
    int askKeepHistory(const Staffdata& person);
    void deletePerson(int id, bool keepHistory);

    std::unique_ptr<Ui::Infomation> ui;
    SettingsAdpater* settings = nullptr;
    DataBase* database = nullptr;
    AddStaff* addStaff = nullptr;
    ModifyStaff* modifyStaff = nullptr;
    const QString connName = QStringLiteral("Search.db");
    QSqlDatabase db;
    RecordList list{this};
};
