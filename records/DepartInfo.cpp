#include "records/DepartInfo.h"

#include <QDebug>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQueryModel>
#include <QStringList>

#include "db/DataBase.h"
#include "records/AddDepart.h"
#include "records/ModDepart.h"
#include "ui_DepartInfo.h"

DepartInfo::DepartInfo(QWidget* parent, SettingsAdpater* settings, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DepartInfo>())
    , settings(settings)
    , database(database)
{
    ui->setupUi(this);
    addDepartDialog = new AddDepart(this, database);
    modDepartDialog = new ModDepart(this, database);

    connect(ui->btnSearch, &QPushButton::clicked, this, &DepartInfo::Search);
    connect(ui->btnAdd, &QPushButton::clicked, this, &DepartInfo::addDepart);
    connect(ui->btnModify, &QPushButton::clicked, this, &DepartInfo::ModifyDepart);
    connect(ui->btnDel, &QPushButton::clicked, this, &DepartInfo::Dell);
    connect(ui->btnQuit, &QPushButton::clicked, this, &DepartInfo::Quit);
    connect(ui->tableView, &QAbstractItemView::clicked, this, &DepartInfo::view);

    database->createConnection(connName);
    db = database->getConnection(connName);
}

DepartInfo::~DepartInfo() = default;

void DepartInfo::ModifyDepart()
{
    const int id = selectedDepartment();
    if (id == 0)
        askForSelection();
    else
        modDepartDialog->loadAndShow(id);
    Search();
}

void DepartInfo::addDepart()
{
    addDepartDialog->exec();
    Search();
}

void DepartInfo::Search()
{
    QString sql = QStringLiteral("select a.id , a.department ,a.dname           from Department a ");
    QVariantList values;
    const QString text = ui->le_dep->text();
    if (!text.isEmpty()) {
        // Bound, so a quote in the filter is just a character of the name.
        sql += QStringLiteral("where department like ?;");
        values << QString(QLatin1Char('%') + text + QLatin1Char('%'));
    }
    qDebug().noquote() << " sql : " << sql;

    database->openConnection(connName);
    QSqlQueryModel* fresh = database->getQueryModel(sql, values, db);
    fresh->setParent(this);
    // Rows not read before the connection closes would never be shown.
    while (fresh->canFetchMore())
        fresh->fetchMore();
    database->closeConnection(connName);

    const QStringList headers = {QStringLiteral("Id号"), QStringLiteral("部门号"), QStringLiteral("部门主管")};
    for (int c = 0; c < headers.size(); ++c)
        fresh->setHeaderData(c, Qt::Horizontal, headers.at(c), Qt::EditRole);
    ui->tableView->setModel(fresh);
    delete model;
    model = fresh;
    rowCount = model->rowCount();
    ui->tableView->resizeColumnsToContents();
    ui->tableView->setColumnHidden(0, true);
    ui->tableView->horizontalHeader()->setHighlightSections(false);
}

void DepartInfo::Quit()
{
    close();
}

void DepartInfo::Dell()
{
    const int id = selectedDepartment();
    if (id == 0) {
        askForSelection();
    } else {
        database->openConnection(connName);
        database->deleteById(database->departmentTable, id, db);
        database->closeConnection(connName);
        // Ids are handed out again; the selection must not outlive its row.
        selectedId.clear();
    }
    Search();
}

void DepartInfo::view(const QModelIndex& index)
{
    const QAbstractItemModel* m = index.model();
    if (!m)
        return;
    selectedId = m->index(index.row(), 0).data().toString();
    qDebug().noquote() << "data[0] :" << selectedId;
}

int DepartInfo::selectedDepartment()
{
    const int id = selectedId.toInt();
    if (id == 0)
        return 0;
    // The clicked row may have been deleted since; it then selects nothing.
    Departdata department;
    database->openConnection(connName);
    const bool exists = database->selectDepartmentById(department, id, db);
    database->closeConnection(connName);
    return exists ? id : 0;
}

void DepartInfo::askForSelection()
{
    QMessageBox::information(this, QStringLiteral("Done"), QStringLiteral("%1 请选择一条数据").arg(QString()),
                             QMessageBox::Ok);
}
