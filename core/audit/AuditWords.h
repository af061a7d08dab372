#pragma once

// The audit trail's words as the officer reads them: its actions, tables and
// fields in Chinese. The trail itself keeps the words it was written with.

#include <QString>
#include <QStringList>

class AuditWords
{
public:
    // The actions the trail records, as stored ("insert", "setid", ...).
    static const QStringList& actions();
    // A stored action, table or field name in Chinese; an unknown word
    // stays as it is.
    static QString action(const QString& word);
    static QString table(const QString& name);
    static QString field(const QString& name);
    // A detail "field: old → new; ..." with its field names in Chinese.
    static QString detail(const QString& text);
};
