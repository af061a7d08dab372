#pragma once

// Runs the statements of an Excel export against an XlsSqlDriver's workbook.
// Prepared statements take their values from '?' or ':name' placeholders;
// nothing returns rows.

#include <QPointer>
#include <QSqlError>
#include <QSqlResult>

#include "core/export/XlsStatement.h"

class XlsSqlDriver;

class XlsSqlResult : public QSqlResult
{
public:
    explicit XlsSqlResult(XlsSqlDriver* driver);

protected:
    QVariant data(int field) override;
    bool isNull(int field) override;
    bool reset(const QString& query) override;
    bool fetch(int index) override;
    bool fetchFirst() override;
    bool fetchLast() override;
    int size() override;
    int numRowsAffected() override;
    bool prepare(const QString& query) override;
    bool exec() override;

private:
    bool run(const QVector<QVariant>& bound);
    bool failWith(const QString& text, QSqlError::ErrorType type = QSqlError::StatementError);

    QPointer<XlsSqlDriver> m_driver;
    XlsStatement m_statement;
    int m_affected = -1;
};
