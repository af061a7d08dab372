#pragma once

#include <QList>
#include <QPair>
#include <QString>

// What a finished backup holds.
struct BackupReport
{
    QString path;                      // absolute; empty when none was due
    qint64 size = 0;                   // bytes
    QList<QPair<QString, int>> counts; // rows of the dose and register tables, in the copy
    bool audited = false;              // the "backup" row is in the source's audit trail
};
