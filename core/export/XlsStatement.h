#pragma once

// The statements the workbook connection understands, parsed:
//   DROP TABLE [sheet]
//   CREATE TABLE [sheet] ([col1] char , [col2] real , ...)
//   INSERT INTO [sheet] (col1 , col2 , ...) VALUES (? | :name | 'text' | 12.5 | NULL , ...)
// Names may be bracketed, double-quoted or bare; bare names in an INSERT
// column list may contain spaces.

#include <QString>
#include <QStringList>
#include <QVector>

class XlsStatement
{
public:
    enum class Kind { Invalid, DropTable, CreateTable, Insert };

    struct Value
    {
        int placeholder = -1; // ordinal among the statement's placeholders, or -1 for a literal
        QString name;         // the placeholder's name, without ':' (empty for '?')
        QString literal;
        bool isNull = false;
    };

    static XlsStatement parse(const QString& sql);

    Kind kind() const { return m_kind; }
    bool isValid() const { return m_kind != Kind::Invalid; }
    QString error() const { return m_error; }
    QString table() const { return m_table; }
    // CREATE: the new columns. INSERT: the listed columns (empty when none were listed).
    QStringList columns() const { return m_columns; }
    QVector<Value> values() const { return m_values; }
    int placeholderCount() const { return m_placeholders; }

private:
    Kind m_kind = Kind::Invalid;
    QString m_error;
    QString m_table;
    QStringList m_columns;
    QVector<Value> m_values;
    int m_placeholders = 0;
};
