#include "desktop/StaffForm.h"

#include <QByteArray>
#include <QComboBox>
#include <QDebug>
#include <QFile>
#include <QSqlQueryModel>

#include "core/DataBase.h"
#include "desktop/AddStaff.h"

std::unique_ptr<QSqlQueryModel> StaffForm::departments(DataBase* database, const QString& connName,
                                                       const QSqlDatabase& db)
{
    const QString sql = QStringLiteral("select a.id , a.department            from Department a ");
    qDebug().noquote() << " sql : " << sql;
    database->openConnection(connName);
    std::unique_ptr<QSqlQueryModel> departs(database->getQueryModel(sql, db));
    while (departs->canFetchMore())
        departs->fetchMore();
    return departs;
}

void StaffForm::listDepartments(QComboBox* box, const QSqlQueryModel& departs)
{
    const int rows = departs.rowCount();
    qDebug().noquote() << " row : " << rows;
    for (int r = 0; r < rows; ++r) {
        const QString name = departs.index(r, 1).data().toString();
        qDebug().noquote() << " departMent : " << name;
        box->addItem(name);
    }
}

QString StaffForm::choosePhoto(QWidget* parent)
{
    return AddStaff::imageChooser ? AddStaff::imageChooser(parent) : QString();
}

bool StaffForm::readPhoto(const QString& path, QFile& file, QByteArray& bytes)
{
    if (path.isEmpty())
        return false;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Stored as the file's own bytes, never re-encoded.
    bytes = file.readAll();
    file.close();
    return true;
}
