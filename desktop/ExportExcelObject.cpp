#include "desktop/ExportExcelObject.h"

#include <QAbstractItemModel>
#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTableView>

const char* const ExportExcelObject::connectionName = "excelexport";

ExportExcelObject::ExportExcelObject(const QString& filePath, const QString& sheet, QTableView* view,
                                     QObject* parent)
    : QObject(parent)
    , excelFilePath(filePath)
    , sheetName(sheet)
    , tableView(view)
{
}

ExportExcelObject::~ExportExcelObject()
{
    qDeleteAll(fieldList);
    // The caller normally removed it already; removing again is harmless.
    QSqlDatabase::removeDatabase(QLatin1String(connectionName));
}

void ExportExcelObject::addField(int column, const QString& name, const QString& type)
{
    auto* field = new ExcelExportField;
    field->column = column;
    field->name = name;
    field->type = type;
    fieldList.append(field);
}

QString ExportExcelObject::connectionString(const QString& filePath)
{
    // CREATE_DB makes the driver create the workbook when it is missing.
    return QStringLiteral("DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;"
                          "READONLY=FALSE;CREATE_DB=\"%1\";DBQ=%2")
        .arg(filePath, filePath);
}

int ExportExcelObject::export2Excel()
{
    if (fieldList.isEmpty()) {
        qDebug() << "ExportExcelObject::export2Excel failed: No fields defined.";
        return -1;
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QLatin1String(connectionName));
    if (!db.isValid()) {
        qDebug() << "ExportExcelObject::export2Excel failed: QODBC not supported.";
        return -2;
    }

    db.setDatabaseName(connectionString(excelFilePath));
    if (!db.open()) {
        qDebug() << "ExportExcelObject::export2Excel failed: Create Excel file failed by DRIVER={Microsoft Excel Driver (*.xls)}.";
        qDebug() << "reason" << db.lastError().text();
        return -3;
    }

    QSqlQuery query(db);
    // A sheet of that name from an earlier export gives way to the new one;
    // when there is none the statement fails, which is fine.
    query.exec(QStringLiteral("DROP TABLE [%1]").arg(sheetName));

    QStringList columns;
    for (const ExcelExportField* field : qAsConst(fieldList))
        columns << QStringLiteral("[%1] %2").arg(field->name, field->type);
    QString sSql = QStringLiteral("CREATE TABLE [%1] (").arg(sheetName) + columns.join(QStringLiteral(" , "))
        + QStringLiteral(")");
    query.prepare(sSql);
    qDebug() << "sSql" << sSql;
    if (!query.exec()) {
        qDebug() << "ExportExcelObject::export2Excel failed: Create Excel sheet failed.";
        qDebug() << "reason" << query.lastError().text();
        return -4;
    }

    QStringList names;
    QStringList placeholders;
    for (int j = 0; j < fieldList.size(); ++j) {
        names << fieldList.at(j)->name;
        placeholders << QStringLiteral(":data%1").arg(j);
    }
    sSql = QStringLiteral("INSERT INTO [%1] (").arg(sheetName) + names.join(QStringLiteral(" , "))
        + QStringLiteral(") VALUES (") + placeholders.join(QStringLiteral(" , ")) + QStringLiteral(")");
    qDebug() << "sSql" << sSql;

    const QAbstractItemModel* model = tableView ? tableView->model() : nullptr;
    const int rowCount = model ? model->rowCount() : 0;
    qDebug() << "rowcount" << rowCount;

    int ok = 0;
    for (int r = 0; r < rowCount; ++r) {
        query.prepare(sSql);
        for (int j = 0; j < fieldList.size(); ++j) {
            // Every value goes in as text, the "real" column included.
            const QString value = model->data(model->index(r, fieldList.at(j)->column)).toString();
            query.bindValue(placeholders.at(j), value, QSql::In);
        }
        if (query.exec())
            ++ok;
        if (r % 10 == 0)
            emit exportedRowCount(r);
    }
    emit exportedRowCount(rowCount);
    // The last rows reach the file only as the workbook closes: a failure
    // there must not pass for a finished export.
    query = QSqlQuery();
    db.close();
    if (db.lastError().isValid()) {
        qDebug() << "ExportExcelObject::export2Excel failed: the workbook was not saved:" << db.lastError().text();
        return -5;
    }
    return ok;
}
