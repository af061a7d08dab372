// A register dialog's rows loaded into its table, and the row that was clicked remembered.

#include "desktop/RecordList.h"

#include <QDebug>
#include <QHeaderView>
#include <QMessageBox>
#include <QSqlError>
#include <QSqlQueryModel>
#include <QTableView>

#include "core/DataBase.h"

RecordList::RecordList(QWidget* owner)
    : owner(owner)
{
}

void RecordList::attach(QTableView* table, DataBase* database, const QString& connName, const QSqlDatabase& db)
{
    this->table = table;
    this->database = database;
    this->connName = connName;
    this->db = db;
}

void RecordList::load(const QString& sql, const QVariantList& values, const QStringList& headers)
{
    database->openConnection(connName);
    QSqlQueryModel* fresh = database->getQueryModel(sql, values, db);
    fresh->setParent(owner);
    // Closing the connection ends the statement; rows not read by then
    // would never reach the table.
    while (fresh->canFetchMore())
        fresh->fetchMore();
    const QSqlError error = db.isOpen() ? fresh->lastError() : db.lastError();
    const bool readable = db.isOpen() && !error.isValid();
    database->closeConnection(connName);
    if (!readable) {
        // An unreadable register must not show as an empty one.
        delete fresh;
        table->setModel(nullptr);
        delete model;
        model = nullptr;
        QMessageBox::critical(owner, owner->windowTitle(), QStringLiteral("无法读取登记表：%1").arg(error.text()));
        return;
    }

    for (int c = 0; c < headers.size(); ++c)
        fresh->setHeaderData(c, Qt::Horizontal, headers.at(c), Qt::EditRole);
    table->setModel(fresh);
    delete model;
    model = fresh;
    table->resizeColumnsToContents();
    table->setColumnHidden(0, true);
    table->horizontalHeader()->setHighlightSections(false);
}

void RecordList::select(const QModelIndex& index)
{
    const QAbstractItemModel* m = index.model();
    if (!m)
        return;
    selectedId = m->index(index.row(), 0).data().toString();
    qDebug().noquote() << "data[0] :" << selectedId;
}

int RecordList::selected(const std::function<bool(int id, QSqlDatabase& db)>& exists)
{
    const int id = selectedId.toInt();
    if (id == 0)
        return 0;
    // The clicked row may have been deleted since; it then selects nothing.
    database->openConnection(connName);
    const bool found = exists(id, db);
    database->closeConnection(connName);
    return found ? id : 0;
}

void RecordList::clearSelection()
{
    selectedId.clear();
}

void RecordList::askForSelection()
{
    QMessageBox::information(owner, QStringLiteral("提示"), QStringLiteral("请选择一条数据。"),
                             QMessageBox::Ok);
}
