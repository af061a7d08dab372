#include "cli/DoseCtl.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QTextStream>

#include "app/Clock.h"
#include "db/DataBase.h"
#include "db/IntegrityCheck.h"
#include "db/DatabaseBackup.h"
#include "dose/DoseStatus.h"

namespace {

const char* const kVersion = "1.0";

QString twoDecimals(double v)
{
    return QString::number(v, 'f', 2);
}

} // namespace

DoseCtl::DoseCtl(QTextStream& out, QTextStream& err)
    : out(out)
    , err(err)
{
}

QString DoseCtl::csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

int DoseCtl::usageError(const QString& usage, const QString& why)
{
    err << "dosectl: " << why << '\n' << usage;
    err.flush();
    return 2;
}

int DoseCtl::failure(const QString& why)
{
    err << "dosectl: " << why << '\n';
    err.flush();
    return 1;
}

int DoseCtl::run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("个人剂量管理系统的命令行工具。\n\n命令:\n"
                                                    "  status   每人的季度、本年、近12个月和五年剂量及级别 (CSV)\n"
                                                    "  check    检查数据库的一致性 (--repair 按读数重建日、月累计)\n"
                                                    "  backup   把数据库备份到一个文件 (PATH [--force])\n"
                                                    "  restore  用一个备份文件恢复数据库 (PATH)"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("显示版本"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件 (默认: database.db)"),
                                QStringLiteral("PATH"), QStringLiteral("database.db"));
    parser.addOption(version);
    parser.addOption(db);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("status | check | backup | restore"));
    if (!parser.parse(arguments))
        return usageError(parser.helpText(), parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        out << "dosectl " << kVersion << '\n';
        return 0;
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError(parser.helpText(), QStringLiteral("no command given"));
    if (rest.first() == QLatin1String("status"))
        return status(parser.value(db), rest);
    if (rest.first() == QLatin1String("check"))
        return check(parser.value(db), rest);
    if (rest.first() == QLatin1String("backup"))
        return backup(parser.value(db), rest);
    if (rest.first() == QLatin1String("restore"))
        return restore(parser.value(db), rest);
    return usageError(parser.helpText(), QStringLiteral("unknown command: ") + rest.first());
}

int DoseCtl::status(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("dosectl status: 每个人员一行 CSV, 按部门、人员编号排序"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption date(QStringLiteral("date"), QStringLiteral("截至该日最后一小时 (默认: 现在)"),
                                  QStringLiteral("yyyy-MM-dd"));
    const QCommandLineOption department(QStringLiteral("department"), QStringLiteral("只列出该部门"),
                                        QStringLiteral("NAME"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOptions({date, department, db});
    if (!parser.parse(arguments))
        return usageError(parser.helpText(), parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser.helpText(), QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());

    QDateTime at = Clock::now();
    if (parser.isSet(date)) {
        const QDate day = QDate::fromString(parser.value(date), QStringLiteral("yyyy-MM-dd"));
        if (!day.isValid())
            return usageError(parser.helpText(), QStringLiteral("not a date (yyyy-MM-dd): ") + parser.value(date));
        at = QDateTime(day, QTime(23, 0));
    }

    const QString path = parser.isSet(db) ? parser.value(db) : defaultPath;
    // Opening a file that is not there would create an empty database.
    if (!QFileInfo(path).isFile())
        return failure(QStringLiteral("no database at ") + path);
    DataBase database(path);
    if (!database.createTables())
        return failure(QStringLiteral("cannot open the database at ") + path);
    QList<PersonStatus> rows;
    QString problem;
    {
        const QString conn = QStringLiteral("dosectl.db");
        database.createConnection(conn);
        QSqlDatabase connection = database.getConnection(conn);
        Departdata found;
        if (parser.isSet(department)
            && !database.selectDepartmentByName(found, parser.value(department), connection))
            problem = QStringLiteral("no department ") + parser.value(department);
        else if (!DoseStatus(database, connection).evaluate(rows, at, parser.value(department)))
            problem = QStringLiteral("cannot read the database at ") + path;
        connection = QSqlDatabase();
        database.closeConnection(conn);
        QSqlDatabase::removeDatabase(conn);
    }
    if (!problem.isEmpty())
        return failure(problem);

    out << "ID_card,name,department,type,quarter_uSv,year_uSv,last12_uSv,five_year_uSv,level\n";
    for (const PersonStatus& p : rows) {
        const QStringList fields{csvField(p.ID_card),
                                 csvField(p.name),
                                 csvField(p.department),
                                 p.ptype == 0 ? QStringLiteral("职业") : QStringLiteral("非职业"),
                                 twoDecimals(p.figures.quarter),
                                 twoDecimals(p.figures.year),
                                 twoDecimals(p.figures.last12),
                                 twoDecimals(p.figures.fiveYear),
                                 DoseLevel::word(p.verdict.level)};
        out << fields.join(QLatin1Char(',')) << '\n';
    }
    out.flush();
    return 0;
}

int DoseCtl::check(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("dosectl check: 检查数据库文件、日累计 (Monthdata) 和月累计 (Yeardata) 与读数是否一致、"
                       "重复的读数和重叠的佩戴记录。每个问题一行; 没有问题时输出 ok, 退出码 0, 否则 1。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption repair(QStringLiteral("repair"),
                                    QStringLiteral("按读数重建有读数的日、月累计 (一个事务, 记入审计日志); "
                                                   "读数从不改动, 没有读数的累计保留并列出"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOptions({repair, db});
    if (!parser.parse(arguments))
        return usageError(parser.helpText(), parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser.helpText(), QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());

    const QString path = parser.isSet(db) ? parser.value(db) : defaultPath;
    if (!QFileInfo(path).isFile())
        return failure(QStringLiteral("no database at ") + path);
    // No createTables here: a check reads the file as it is.
    DataBase database(path);
    QList<IntegrityFinding> findings;
    IntegrityRepair repaired;
    bool ok = false;
    QString problem;
    {
        const QString conn = QStringLiteral("dosectl.check");
        database.createConnection(conn);
        QSqlDatabase connection = database.getConnection(conn);
        {
            IntegrityCheck checker(database, connection);
            ok = parser.isSet(repair) ? checker.repair(repaired) : checker.check(findings);
            problem = checker.error();
        }
        connection = QSqlDatabase();
        database.closeConnection(conn);
        QSqlDatabase::removeDatabase(conn);
    }
    if (!ok)
        return failure(problem + QStringLiteral(" (") + path + QLatin1Char(')'));

    if (parser.isSet(repair)) {
        for (const QString& change : qAsConst(repaired.changes))
            out << change << '\n';
        if (repaired.days.changed() > 0)
            out << "repaired Monthdata: " << repaired.days.text() << '\n';
        if (repaired.months.changed() > 0)
            out << "repaired Yeardata: " << repaired.months.text() << '\n';
        findings = repaired.left;
    }
    for (const IntegrityFinding& f : qAsConst(findings))
        out << f.line() << '\n';
    if (findings.isEmpty())
        out << "ok\n";
    out.flush();
    return findings.isEmpty() ? 0 : 1;
}

int DoseCtl::backup(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("dosectl backup PATH: 把数据库的一致副本写到 PATH, "
                                                    "打印路径、大小和各表行数"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("覆盖已存在的 PATH"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOptions({force, db});
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("备份文件"));
    if (!parser.parse(arguments))
        return usageError(parser.helpText(), parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return usageError(parser.helpText(), QStringLiteral("one backup file expected"));

    BackupReport report;
    QString reason;
    const QString source = parser.isSet(db) ? parser.value(db) : defaultPath;
    if (!DatabaseBackup::backup(source, parser.positionalArguments().at(0), parser.isSet(force), &report, &reason))
        return failure(reason);
    out << "backup: " << report.path << '\n' << "size: " << report.size << " bytes\n";
    for (const auto& c : qAsConst(report.counts))
        out << c.first << ": " << c.second << '\n';
    out.flush();
    if (!report.audited)
        err << "dosectl: warning: the backup is not recorded in the audit trail of " << source << '\n';
    err.flush();
    return 0;
}

int DoseCtl::restore(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("dosectl restore PATH: 用备份 PATH 替换数据库; 当前数据库保存为 "
                                                    "database.db.before-restore-yyyyMMdd-hhmmss。先关闭程序。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOption(db);
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("备份文件"));
    if (!parser.parse(arguments))
        return usageError(parser.helpText(), parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return usageError(parser.helpText(), QStringLiteral("one backup file expected"));

    QString kept, reason;
    const QString target = parser.isSet(db) ? parser.value(db) : defaultPath;
    if (!DatabaseBackup::restore(parser.positionalArguments().at(0), target, Clock::now(), &kept, &reason))
        return failure(reason);
    out << "restored: " << QFileInfo(target).absoluteFilePath() << '\n' << "kept: " << kept << '\n';
    out.flush();
    return 0;
}
