#pragma once

// dosectl adjust: dose adjustments filed, listed, approved and withdrawn.

#include <QList>
#include <QString>
#include <QStringList>

#include "core/dose/DoseAdjustmentdata.h"

class DoseCtl;

// "dosectl adjust add|list|approve|withdraw ...": what the 剂量更正 dialog
// does, as the operating-system account dosectl runs as.
class AdjustCommand
{
public:
    explicit AdjustCommand(DoseCtl& ctl);

    // arguments start with "adjust"; the exit code as DoseCtl's.
    int run(const QString& dbPath, const QStringList& arguments);

    // The listing's columns, and one row of it.
    static const char* const kHeader;
    static QString csvRow(const DoseAdjustmentdata& row);

private:
    int add(const QString& dbPath, const QStringList& arguments);
    int list(const QString& dbPath, const QStringList& arguments);
    int approve(const QString& dbPath, const QStringList& arguments);
    int withdraw(const QString& dbPath, const QStringList& arguments);

    DoseCtl& ctl;
};
