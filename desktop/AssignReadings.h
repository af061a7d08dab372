#pragma once

// The dialog that gives a dosimeter's readings nobody wore to a person.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class DataBase;

namespace Ui {
class AssignReadings;
}

// "分配读数": gives a range of a dosimeter's readings that nobody wore to a
// person, as a closed wear period.
class AssignReadings : public QDialog
{
    Q_OBJECT

public:
    AssignReadings(QWidget* parent, DataBase* database);
    ~AssignReadings() override;

    // Fills the ID cards, proposes the last day up to this hour and runs
    // the dialog modally.
    void prepareAndShow(int slaveId);

public slots:
    void assign();

private:
    std::unique_ptr<Ui::AssignReadings> ui;
    DataBase* database = nullptr;
    int slaveId = -1;
    const QString connName = QStringLiteral("AssignReadings.db");
    QSqlDatabase db;
};
