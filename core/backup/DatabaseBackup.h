#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

#include "core/backup/BackupReport.h"

// Copies of "database.db" a person's dose file may be recovered from, and the
// way back. A copy is written by SQLite itself (VACUUM INTO, one read
// transaction, so readings stored meanwhile are either wholly in it or not at
// all) under a temporary name beside its final one, marked as a backup in its
// header, checked, and only then renamed into place. Reasons are one line in
// words for the officer.
class DatabaseBackup
{
public:
    // The dose and register tables every database of the program holds.
    static const QStringList& tables();
    // "size: N bytes; Department: 2; Staff: 5; ...", as the audit trail keeps it.
    static QString summary(const BackupReport& report);
    // "大小：N 字节；Department：2 行；Staff：5 行；…", as the officer reads it.
    static QString shown(const BackupReport& report);

    // A consistent copy of the database at source, written to target. An
    // existing target is replaced only when overwrite is set, and only an
    // earlier backup among databases (OutputFile's rules). Also records
    // "backup" in the source's audit trail.
    static bool backup(const QString& source, const QString& target, bool overwrite, BackupReport* report,
                       QString* reason);

    // The start-up backup: "backup/database-yyyyMMdd-hhmmss.db" beside the
    // database when the newest such file is more than 24 hours old (or there
    // is none), then the rotation. True with an empty report.path when none
    // was due.
    static bool automatic(const QString& database, const QDateTime& now, BackupReport* report, QString* reason);
    static QString folder(const QString& database);
    static QString automaticName(const QDateTime& at);
    // The time in an automatic backup's name; invalid for any other name.
    static QDateTime automaticTime(const QString& name);
    static bool due(const QStringList& names, const QDateTime& now);
    // The automatic backups among names that the rotation deletes: all but
    // the newest 7 and the newest of each of the 12 months up to now's.
    static QStringList expired(const QStringList& names, const QDateTime& now);


    // True when path is an SQLite database that passes integrity_check and
    // holds the program's tables with the columns it reads.
    static bool restorable(const QString& path, QString* reason);

    // Closes what holds the database while replace runs (the window's
    // connections); no hook runs replace as it is.
    using Release = std::function<bool(const std::function<bool()>& replace)>;
    // Puts the whole content of source (read through SQLite, its -wal too)
    // in place of the database, with the owner and mode the database had,
    // no backup mark and "restore" in its audit trail. The current one is
    // kept completely as "<database>.before-restore-yyyyMMdd-hhmmss" (kept
    // gets its path); the journal files beside it go, so nothing of the
    // former file is played back into the restored one. A database that is
    // empty or damaged may be replaced this way; its bytes are kept.
    static bool restore(const QString& source, const QString& database, const QDateTime& now, QString* kept,
                        QString* reason, const Release& release = {});
};
