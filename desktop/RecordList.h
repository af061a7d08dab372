#pragma once

// The table the staff, department and device dialogs share.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class DataBase;
class QModelIndex;
class QSqlQueryModel;
class QTableView;
class QWidget;

// The table of a register dialog (staff, departments, devices): what it
// shows and which of its rows was clicked. The three dialogs differ only in
// their statements and in how a row is deleted.
class RecordList
{
public:
    // owner parents the models and the message boxes.
    explicit RecordList(QWidget* owner);

    // Called once the form and the dialog's connection exist.
    void attach(QTableView* table, DataBase* database, const QString& connName, const QSqlDatabase& db);

    // Shows every row sql yields, under headers, in place of the last list.
    void load(const QString& sql, const QVariantList& values, const QStringList& headers);

    // Remembers the clicked row's id (column 0).
    void select(const QModelIndex& index);
    // The clicked row's id while exists(id) still finds it, else 0.
    int selected(const std::function<bool(int id, QSqlDatabase& db)>& exists);
    void clearSelection();
    void askForSelection();

private:
    QWidget* owner = nullptr;
    QTableView* table = nullptr;
    DataBase* database = nullptr;
    QString connName;
    QSqlDatabase db;
    QSqlQueryModel* model = nullptr;
    QString selectedId;
};
