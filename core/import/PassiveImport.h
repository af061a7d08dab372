#pragma once

// A laboratory's file of passive-dosimeter results taken into the register: read, every row checked against the register
// and the results already kept, and stored whole or not at all.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "core/readings/PassiveImportdata.h"
#include "core/readings/PassiveResultdata.h"

class DataBase;

// What dosectl import-passive and 导入个人剂量计结果 both run. A file
// already imported (the same bytes) changes nothing. Any faulty row refuses
// the whole file, each faulty row named as "line N: reason"; a period that
// overlaps a counting result of the same person from another file is such a
// fault unless the file is taken as the laboratory's amendment (replace),
// when the earlier rows stay, marked as replaced.
class PassiveImport
{
public:
    struct Options
    {
        QString mapping; // a mapping file, see PassiveColumns::loadMapping
        bool dryRun = false;
        bool replace = false;
    };
    enum class Result { Imported, WouldImport, AlreadyImported, Refused, Failed };
    struct Outcome
    {
        Result result = Result::Failed;
        QString error;          // Failed: why, in words for the officer
        QStringList refusals;   // Refused: "line N: reason", in the file's order
        bool onlyOverlaps = false; // Refused only for overlaps with other files: replace would take it
        QStringList warnings;   // "line N: ..." that do not refuse (a name unlike the register's)
        QList<PassiveResultdata> rows;     // what is (or would be) stored
        QList<PassiveResultdata> replaced; // the earlier results it replaces
        PassiveImportdata file;  // the import stored, or the earlier one of the same bytes
    };

    PassiveImport(DataBase& database, QSqlDatabase db);

    Outcome run(const QString& path, const Options& options);

    // A figure in a file's unit as μSv, rounded to 0.01 μSv; false when the
    // text is no number or a negative one.
    static bool dose(const QString& text, double toMicroSievert, double& uSv);
    // A date as yyyyMMdd from yyyy-MM-dd, yyyy/M/d, yyyyMMdd, yyyy.MM.dd or,
    // in a workbook, a serial number; empty when it is none.
    static QString day(const QString& text, bool workbook);
    // The stored code of a file's 备注; false when it is unknown.
    static bool code(const QString& text, QString& stored);

private:
    DataBase& database;
    QSqlDatabase db;
};
