// The pickers' lists, read through the register's repositories.
#include "desktop/RegisterChoices.h"

#include <QComboBox>
#include <QMessageBox>
#include <QSqlError>

#include "core/DataBase.h"
#include "core/register/StaffRegister.h"

namespace {

bool refuse(QComboBox* box, const QString& what, const QSqlDatabase& db)
{
    QMessageBox::critical(box->window(), box->window()->windowTitle(),
                          QStringLiteral("无法读取%1：%2").arg(what, db.lastError().text()));
    return false;
}

} // namespace

bool RegisterChoices::departments(QComboBox* box, DataBase* database, const QString& connName,
                                  const QSqlDatabase& db)
{
    box->clear();
    database->openConnection(connName);
    QList<Departdata> departments;
    const bool read = database->selectAllDepartments(departments, db);
    database->closeConnection(connName);
    if (!read)
        return refuse(box, QStringLiteral("部门列表"), db);
    for (const Departdata& d : qAsConst(departments))
        box->addItem(d.department);
    return true;
}

bool RegisterChoices::cards(QComboBox* box, DataBase* database, const QString& connName, const QSqlDatabase& db)
{
    box->clear();
    database->openConnection(connName);
    QList<Staffdata> people;
    const bool read = StaffRegister(*database).selectAll(people, db);
    database->closeConnection(connName);
    if (!read)
        return refuse(box, QStringLiteral("人员列表"), db);
    // The name beside the card; the card is the item's value.
    for (const Staffdata& s : qAsConst(people))
        box->addItem(s.name.isEmpty() ? s.ID_card : s.ID_card + QStringLiteral("  ") + s.name, s.ID_card);
    return true;
}

QString RegisterChoices::card(const QComboBox* box)
{
    const QVariant value = box->currentData();
    return value.isValid() ? value.toString() : box->currentText();
}
