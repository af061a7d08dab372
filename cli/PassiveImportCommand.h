#pragma once

// dosectl import-passive: a laboratory's file of passive-dosimeter results taken into the register.

#include <QString>
#include <QStringList>

class DoseCtl;

// "dosectl import-passive FILE [--mapping FILE] [--dry-run] [--replace]":
// what 导入个人剂量计结果 does, as the account dosectl runs as. Exit 0 when
// imported, already imported or (dry run) importable; 1 when refused (every
// faulty row on stderr as "line N: reason") or failed; 2 for a wrong command
// line.
class PassiveImportCommand
{
public:
    explicit PassiveImportCommand(DoseCtl& ctl);

    // arguments start with "import-passive".
    int run(const QString& dbPath, const QStringList& arguments);

private:
    DoseCtl& ctl;
};
