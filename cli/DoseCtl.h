#pragma once

#include <QString>
#include <QSqlDatabase>
#include <QStringList>

#include <functional>

class DataBase;

class QCommandLineOption;
class QCommandLineParser;
class QTextStream;

// The command-line companion: "dosectl [--db PATH] COMMAND [options]".
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

private:
    int status(const QString& dbPath, const QStringList& arguments);
    int check(const QString& dbPath, const QStringList& arguments);
    int backup(const QString& dbPath, const QStringList& arguments);
    int restore(const QString& dbPath, const QStringList& arguments);
    int report(const QString& dbPath, const QStringList& arguments);
    int personReport(const QString& dbPath, const QStringList& arguments);
    int departmentReport(const QString& dbPath, const QStringList& arguments);
    // Runs work on a connection to the database at path; its text is the
    // reason of a failure, empty on success.
    int withDatabase(const QString& path, const std::function<QString(DataBase&, QSqlDatabase)>& work);
    int usageError(const QString& usage, const QString& why);
    // A subcommand's arguments parsed: -1 to go on, or the exit code when
    // the help was shown or the arguments are wrong.
    int parsed(QCommandLineParser& parser, const QStringList& arguments, const QCommandLineOption& help);
    int failure(const QString& why);

    QTextStream& out;
    QTextStream& err;
};
