#pragma once

// dosectl report: the personal dose record and the department report.

#include <QString>
#include <QStringList>

class DoseCtl;

// "dosectl report person ID_CARD ..." and "dosectl report department ...":
// the same documents the window prints, written to the file --pdf or
// --xlsx names under the output rules.
class ReportCommand
{
public:
    explicit ReportCommand(DoseCtl& ctl);

    // arguments start with "report"; the exit code as DoseCtl's.
    int run(const QString& dbPath, const QStringList& arguments);

private:
    int person(const QString& dbPath, const QStringList& arguments);
    int department(const QString& dbPath, const QStringList& arguments);

    DoseCtl& ctl;
};
