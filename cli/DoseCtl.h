#pragma once

#include <QString>
#include <QStringList>

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
    int usageError(const QString& usage, const QString& why);
    int failure(const QString& why);

    QTextStream& out;
    QTextStream& err;
};
