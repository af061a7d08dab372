#pragma once

// A Qt SQL driver that stands in for the Excel ODBC driver: registered under
// the name "QODBC", it takes the Excel connection string
//   DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;
//   READONLY=FALSE;CREATE_DB="<path>";DBQ=<path>
// and the DROP TABLE / CREATE TABLE / INSERT INTO statements of an export,
// and keeps the workbook at <path> as an Excel 97-2003 (.xls) file.
//
// The workbook lives in memory while the connection is open and is written
// out after each CREATE TABLE, after batches of inserts, and when the
// connection is closed or the driver destroyed.

#include <QSqlDriver>

#include "core/export/XlsWorkbook.h"

class XlsSqlDriver : public QSqlDriver
{
    Q_OBJECT

public:
    static const char* const kDriverName; // "QODBC"

    // Makes QSqlDatabase::addDatabase("QODBC") create this driver. Call once at
    // program start, before the first export; calling it again does nothing.
    static void registerAsOdbc();

    explicit XlsSqlDriver(QObject* parent = nullptr);
    ~XlsSqlDriver() override;

    bool hasFeature(DriverFeature feature) const override;
    bool open(const QString& db, const QString& user, const QString& password, const QString& host, int port,
              const QString& connectOptions) override;
    void close() override;
    QSqlResult* createResult() const override;
    QStringList tables(QSql::TableType type) const override;
    QSqlRecord record(const QString& tableName) const override;
    QString escapeIdentifier(const QString& identifier, IdentifierType type) const override;

    // The path taken from a connection string, or an empty string with *error set.
    static QString workbookPath(const QString& connectionString, QString* error);

    QString workbookPath() const { return m_path; }
    bool isReadOnly() const { return m_readOnly; }
    // Writes the workbook now if it has unsaved changes.
    bool flush(QString* error);

    // The statements, as the result runs them.
    bool dropSheet(const QString& name, QString* error);
    bool createSheet(const QString& name, const QStringList& columns, QString* error);
    // columns empty: values are in the sheet's column order.
    bool insertRow(const QString& name, const QStringList& columns, const QStringList& values, QString* error);

    // Inserts after which the workbook is written at the latest; the batch
    // grows with the workbook so that the rewrites stay a fixed share of the work.
    static constexpr int kMinInsertBatch = 20000;

private:
    int sheetIndex(const QString& name) const;
    bool save(QString* error);

    XlsWorkbook m_book;
    QString m_path;
    bool m_readOnly = false;
    bool m_dirty = false;
    bool m_createdFile = false;
    bool m_everSaved = false;
    int m_pendingInserts = 0;
};
