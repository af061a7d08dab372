#pragma once

// The dialog that changes a department's name or head.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

#include "core/register/Departdata.h"

class DataBase;

namespace Ui {
class ModDepart;
}

// "修改部门信息": renames a department or changes its head; the shared
// connection "Modstaff.db".
class ModDepart : public QDialog
{
    Q_OBJECT

public:
    ModDepart(QWidget* parent, DataBase* database);
    ~ModDepart() override;

    // Loads department id and runs the dialog modally; a department that
    // no longer exists is not shown.
    void loadAndShow(int id);

public slots:
    void ModDepartMent();
    void Quit();

private:
    void refuse(const QString& text);

    std::unique_ptr<Ui::ModDepart> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("Modstaff.db");
    QSqlDatabase db;
    Departdata current;
};
