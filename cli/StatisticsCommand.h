#pragma once

// dosectl statistics: the annual dose statistics, as CSV or as a document.

#include <QString>
#include <QStringList>

class DoseCtl;

// "dosectl statistics --year YYYY [--department NAME] [--pdf FILE | --xlsx
// FILE [--force]]": CSV on standard output, or the document the program's
// 年度剂量统计 writes, under the output rules.
class StatisticsCommand
{
public:
    explicit StatisticsCommand(DoseCtl& ctl);

    // arguments start with "statistics"; the exit code as DoseCtl's.
    int run(const QString& dbPath, const QStringList& arguments);

private:
    DoseCtl& ctl;
};
