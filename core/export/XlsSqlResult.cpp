#include "core/export/XlsSqlResult.h"

#include "core/export/XlsSqlDriver.h"

#include <QSqlError>
#include <QVariant>

XlsSqlResult::XlsSqlResult(XlsSqlDriver* driver) : QSqlResult(driver), m_driver(driver) {}

QVariant XlsSqlResult::data(int)
{
    return QVariant();
}

bool XlsSqlResult::isNull(int)
{
    return true;
}

bool XlsSqlResult::fetch(int)
{
    return false;
}

bool XlsSqlResult::fetchFirst()
{
    return false;
}

bool XlsSqlResult::fetchLast()
{
    return false;
}

int XlsSqlResult::size()
{
    return -1;
}

int XlsSqlResult::numRowsAffected()
{
    return m_affected;
}

bool XlsSqlResult::failWith(const QString& text, QSqlError::ErrorType type)
{
    setLastError(QSqlError(text, QString(), type));
    setActive(false);
    return false;
}

bool XlsSqlResult::reset(const QString& query)
{
    m_statement = XlsStatement::parse(query);
    if (!m_statement.isValid())
        return failWith(m_statement.error());
    return run({});
}

bool XlsSqlResult::prepare(const QString& query)
{
    m_statement = XlsStatement::parse(query);
    if (!m_statement.isValid())
        return failWith(m_statement.error());
    return true;
}

bool XlsSqlResult::exec()
{
    if (!m_statement.isValid())
        return failWith(QStringLiteral("no statement prepared"));
    return run(boundValues());
}

bool XlsSqlResult::run(const QVector<QVariant>& bound)
{
    m_affected = -1;
    setActive(false);
    setAt(QSql::BeforeFirstRow);
    if (!m_driver || !m_driver->isOpen())
        return failWith(QStringLiteral("the workbook connection is not open"), QSqlError::ConnectionError);

    QString error;
    bool ok = false;
    switch (m_statement.kind()) {
    case XlsStatement::Kind::DropTable:
        ok = m_driver->dropSheet(m_statement.table(), &error);
        break;
    case XlsStatement::Kind::CreateTable:
        ok = m_driver->createSheet(m_statement.table(), m_statement.columns(), &error);
        break;
    case XlsStatement::Kind::Insert: {
        QStringList values;
        for (const XlsStatement::Value& v : m_statement.values()) {
            if (v.placeholder < 0) {
                values.append(v.literal);
                continue;
            }
            if (v.placeholder >= bound.size())
                return failWith(QStringLiteral("no value bound for placeholder %1")
                                    .arg(v.name.isEmpty() ? QString::number(v.placeholder + 1)
                                                          : QLatin1Char(':') + v.name));
            const QVariant& value = bound[v.placeholder];
            values.append(value.isNull() ? QString() : value.toString());
        }
        ok = m_driver->insertRow(m_statement.table(), m_statement.columns(), values, &error);
        break;
    }
    case XlsStatement::Kind::Invalid:
        error = m_statement.error();
        break;
    }
    if (!ok)
        return failWith(error);
    m_affected = m_statement.kind() == XlsStatement::Kind::Insert ? 1 : 0;
    setSelect(false);
    setActive(true);
    return true;
}
