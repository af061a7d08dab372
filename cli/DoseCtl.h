#pragma once

// dosectl, the command-line companion: status, check, backup, restore, report, statistics, migrate, adjust and
// import-passive on the register.

#include <QString>
#include <QSqlDatabase>
#include <QStringList>

#include <functional>

#include "core/export/OutputFile.h"

class DataBase;
class StoreConfig;

class QCommandLineOption;
class QCommandLineParser;
class QTextStream;

// The command-line companion: "dosectl [--db PATH] COMMAND [options]". It
// works on the store of "zudovi.ini" in the working directory (group
// "database"), or on the SQLite file that --db names.
// Data goes to out, a one-line reason or the usage to err. The exit codes:
// 0 done, 1 failed, 2 the command line was wrong.
class DoseCtl
{
public:
    DoseCtl(QTextStream& out, QTextStream& err);

    // arguments as main() has them, the program name first.
    int run(const QStringList& arguments);

    // One CSV field, quoted when it holds a comma, a quote or a line break.
    static QString csvField(const QString& text);

    // What the commands share.

    // The store to work on: the SQLite file at path when one was named, else
    // the configured one. -1 to go on, or the exit code after the reason.
    int pickStore(const QString& path, StoreConfig& store);
    // The same for backup and restore, which work on SQLite files only.
    int pickFile(const QString& path, StoreConfig& store);
    // The data folder whose lock restore, migrate and check --repair take:
    // the folder of the file --db names, else the data folder.
    QString lockedFolder(const QString& path) const;
    // The report's file target, given the register that path picks, when
    // the output rules allow it: -1 to go on, or the exit code after why not.
    int outputTarget(const QString& path, const OutputFile::Target& wanted, OutputFile::Format format,
                     OutputFile::Target* target);
    // Runs work on a connection to the store picked for path (its layout
    // brought up to date first when layOut and the file may be written);
    // its text is the reason of a failure, empty on success. Unless work
    // writes, a file this account may not write is opened for reading only.
    int withDatabase(const QString& path, const std::function<QString(DataBase&, QSqlDatabase)>& work,
                     bool layOut = true, bool writes = false);
    int usageError(const QString& usage, const QString& why);
    // A subcommand's arguments parsed: -1 to go on, or the exit code when
    // the help was shown or the arguments are wrong.
    int parsed(QCommandLineParser& parser, const QStringList& arguments, const QCommandLineOption& help);
    int failure(const QString& why);

    QTextStream& out;
    QTextStream& err;

private:
    int status(const QString& dbPath, const QStringList& arguments);
    int check(const QString& dbPath, const QStringList& arguments);
    int backup(const QString& dbPath, const QStringList& arguments);
    int restore(const QString& dbPath, const QStringList& arguments);
    int migrate(const QString& dbPath, const QStringList& arguments);
    // --data-dir: where "zudovi.ini" and the default database are (empty:
    // the working directory).
    QString folder;
};
