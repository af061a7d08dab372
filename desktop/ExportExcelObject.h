#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "core/export/ExcelExportField.h"

class QTableView;

// Writes the rows of a table view's model into one worksheet of an .xls
// workbook, reached as an ODBC data source through the "QODBC" driver on the
// connection "excelexport".
class ExportExcelObject : public QObject
{
    Q_OBJECT

public:
    ExportExcelObject(const QString& filePath, const QString& sheet, QTableView* view,
                      QObject* parent = nullptr);
    ~ExportExcelObject() override;

    // Appends one column to the worksheet; the object owns the field.
    void addField(int column, const QString& name, const QString& type);

    // Number of rows written, or -1 no fields, -2 no "QODBC" driver,
    // -3 workbook not opened or created, -4 worksheet not created, -5 the
    // workbook could not be saved as it closed.
    int export2Excel();

    // The ODBC connection string handed to the driver for a workbook.
    static QString connectionString(const QString& filePath);
    static const char* const connectionName;

signals:
    void exportedRowCount(int row);

private:
    QString excelFilePath;
    QString sheetName;
    QTableView* tableView = nullptr;
    QList<ExcelExportField*> fieldList;
};
