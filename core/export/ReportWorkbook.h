#pragma once

// The personal dose record and the department report as .xlsx workbooks.

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include "core/export/OutputFile.h"

class PeriodReport;
struct PersonStatus;
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
    // The dose overview of date as the window shows it: one sheet, a row a
    // person, the doses numeric, ID cards text, the level in words.
    static bool write(const QList<PersonStatus>& rows, const QDate& date, const OutputFile::Target& target,
                      QString* why);
    static const QStringList& overviewColumns();
};
