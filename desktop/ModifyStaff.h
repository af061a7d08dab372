#pragma once

// The dialog that edits a person's details and photo.

#include <QDialog>
#include <QFile>
#include <QSqlDatabase>
#include <QString>

#include <memory>

#include "core/register/Staffdata.h"

class DataBase;

namespace Ui {
class ModifyStaff;
}

// "修改人员信息": edits one person; the shared connection "Modstaff.db".
class ModifyStaff : public QDialog
{
    Q_OBJECT

public:
    ModifyStaff(QWidget* parent, DataBase* database);
    ~ModifyStaff() override;

    // Loads person id and runs the dialog modally; a person that no longer
    // exists is not shown.
    void loadAndShow(int id);

public slots:
    void Modifystaff();
    void Quit();
    void photo();

private:
    void refuse(const QString& text);

    std::unique_ptr<Ui::ModifyStaff> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("Modstaff.db");
    QSqlDatabase db;
    Staffdata current;
    QString photoPath;
    QFile photoFile;
};
