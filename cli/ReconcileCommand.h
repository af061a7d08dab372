#pragma once

// dosectl reconcile: passive dosimeters' results against the electronic dose, as CSV, and a flag closed.

#include <QString>
#include <QStringList>

class DoseCtl;

// "dosectl reconcile --from yyyy-MM-dd --to yyyy-MM-dd [--department NAME]"
// prints the reconciliation as CSV; "dosectl reconcile close (ID | --card
// ID_CARD --start yyyy-MM-dd) --comment TEXT" closes a flagged result's
// flag, as the operating-system account dosectl runs as.
class ReconcileCommand
{
public:
    explicit ReconcileCommand(DoseCtl& ctl);

    // arguments start with "reconcile"; the exit code as DoseCtl's.
    int run(const QString& dbPath, const QStringList& arguments);

private:
    int list(const QString& dbPath, const QStringList& arguments);
    int close(const QString& dbPath, const QStringList& arguments);

    DoseCtl& ctl;
};
