#pragma once

// The personal dose record and the department report as .xlsx workbooks.

#include <QString>

#include "core/export/OutputFile.h"

class PeriodReport;
class PersonRecord;

// The two documents as .xlsx workbooks, every dose a numeric cell (μSv,
// rounded to the two decimals the PDF shows, so both agree to the cent).
// The record: a summary sheet "汇总", then one sheet per year. The report:
// one sheet. Written completely or not at all.
class ReportWorkbook
{
public:
    static bool write(const PersonRecord& record, const OutputFile::Target& target, QString* why);
    static bool write(const PeriodReport& report, const OutputFile::Target& target, QString* why);
};
