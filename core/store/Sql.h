#pragma once

// Small helpers every statement of the store layer goes through: values are
// always bound, never formatted into the text; a table name is pasted only
// when it is a plain identifier of the program's own.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

class Sql
{
public:
    // Whether name is a plain identifier (letters, digits, "_").
    static bool isPlainName(const QString& name);
    // fmt with "%s" standing for the names, in order.
    static QString format(const char* fmt, const QString& a);
    static QString format(const char* fmt, const QString& a, const QString& b);

    // Runs a one-off statement whose values are all bound.
    static bool exec(const QString& sql, const QVariantList& values, const QSqlDatabase& db);
    // Runs statements without values in order; false at the first that fails.
    static bool execAll(const QStringList& statements, const QSqlDatabase& db);
    // The same, telling how many rows it changed (-1 on failure).
    static int execCounted(const QString& sql, const QVariantList& values, const QSqlDatabase& db);
    // One text column of the first row; false when there is none or the
    // statement fails.
    static bool firstText(const QString& sql, const QVariantList& values, const QSqlDatabase& db, QString& out);

    // The first row, read into data by read(); false, with data untouched,
    // when the statement fails or yields no row.
    template <typename Record>
    static bool readFirst(const QString& sql, const QVariantList& values, const QSqlDatabase& db, Record& data,
                          void (*read)(const QSqlQuery&, Record&))
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!prepare(q, sql, values) || !q.exec() || !q.next())
            return false;
        read(q, data);
        return true;
    }

    // Every row, each read into a record appended to list; false when the
    // statement fails, also half-way through (a damaged page).
    template <typename Record>
    static bool readAll(const QString& sql, const QVariantList& values, const QSqlDatabase& db, QList<Record>& list,
                        void (*read)(const QSqlQuery&, Record&))
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!prepare(q, sql, values) || !q.exec())
            return false;
        while (q.next()) {
            Record r;
            read(q, r);
            list.append(r);
        }
        return complete(q);
    }

    // After a loop over q's rows: false when the loop ended on an error
    // rather than at the end.
    static bool complete(const QSqlQuery& q);

private:
    static bool prepare(QSqlQuery& q, const QString& sql, const QVariantList& values);
};
