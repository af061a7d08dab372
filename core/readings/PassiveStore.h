#pragma once

// The passive dosimeters' results (table "PassiveResult") and the laboratory
// files they came in (table "PassiveImport"). A file is kept as received and
// never changes; a result's figures never change either: an amended result
// comes in a later file that replaces it, and the earlier row stays, marked.

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "core/readings/PassiveImportdata.h"
#include "core/readings/PassiveResultdata.h"

class Store;

class PassiveStore
{
public:
    explicit PassiveStore(Store& store);

    static const char* const kResults; // "PassiveResult"
    static const char* const kImports; // "PassiveImport"
    static const char* const kKept;    // the error a change of a kept row meets
    static const char* const kInUse;   // the error a deletion of a person with results meets

    // The tables, their guards and the guard of the people who have
    // results, in the dialect of db's store; and their trigger names.
    static QStringList layout(const QSqlDatabase& db);
    static QStringList guardNames(const QSqlDatabase& db);
    bool layOut(const QSqlDatabase& db);

    // Stores a file and its rows in one transaction: the new import's id, or
    // 0 with why. Rows whose ids are in replaced are marked as replaced by it.
    int add(PassiveImportdata file, const QList<PassiveResultdata>& rows, const QList<int>& replaced,
              QString* why, QSqlDatabase db);

    // The import of a file with this hash; 0 when there is none, -1 when it
    // cannot be read.
    int importOf(const QString& sha256, QSqlDatabase db);
    bool selectImport(PassiveImportdata& file, int id, QSqlDatabase db);

    // The results that count (not replaced) whose periods touch the days
    // first..last ("yyyyMMdd"), with the person's name; an empty idCard
    // means everybody. In order of ID card, then start.
    bool selectCurrent(QList<PassiveResultdata>& list, const QString& first, const QString& last,
                       const QString& idCard, QSqlDatabase db);
    // Closes a result's reconciliation flag with the officer's comment: the
    // closing is written once, in an audited transaction. False with why
    // (for the officer) when the comment is empty, the result is unknown or
    // already closed, or the database refuses.
    bool close(int id, const QString& comment, const QString& actor, QString* why, QSqlDatabase db);
    // One result by id, with the person's name; false when there is none or it cannot be read.
    bool selectOne(PassiveResultdata& result, int id, QSqlDatabase db);
    // Every result of a person, replaced ones too, in order of start, then id.
    bool selectByCard(QList<PassiveResultdata>& list, const QString& idCard, QSqlDatabase db);

private:
    Store& store;
};
