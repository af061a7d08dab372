// dosectl report: the personal dose record and the department report, as PDF or .xlsx.

#include "cli/ReportCommand.h"

#include <QCommandLineParser>
#include <QDate>
#include <QTextStream>

#include "cli/DoseCtl.h"
#include "cli/DocumentOutput.h"
#include "core/DataBase.h"
#include "core/report/PeriodReport.h"
#include "core/report/PersonRecord.h"
#include "core/time/Clock.h"

ReportCommand::ReportCommand(DoseCtl& ctl)
    : ctl(ctl)
{
}

int ReportCommand::run(const QString& dbPath, const QStringList& arguments)
{
    const QString usage = QStringLiteral(
        "用法：\n"
        "  dosectl report person ID_CARD [--from YYYY] [--to YYYY] (--pdf FILE | --xlsx FILE) [--force]\n"
        "      个人剂量档案：逐月、季度、年度、五年及终身剂量，佩戴的剂量计，告警\n"
        "  dosectl report department (NAME | --all) --from yyyy-MM-dd --to yyyy-MM-dd (--pdf FILE | --xlsx FILE) [--force]\n"
        "      部门剂量报表：每人期间剂量、本年累计和级别，按部门小计（期间不超过10年）\n"
        "每个子命令都有 --help。\n");
    const QString sub = arguments.value(1);
    if (sub == QLatin1String("person"))
        return person(dbPath, arguments.mid(1));
    if (sub == QLatin1String("department"))
        return department(dbPath, arguments.mid(1));
    if (sub == QLatin1String("--help") || sub == QLatin1String("-h")) {
        ctl.out << usage;
        return 0;
    }
    return ctl.usageError(usage, sub.isEmpty() ? QStringLiteral("report 需要 person 或 department")
                                           : QStringLiteral("未知的报表：") + sub);
}

int ReportCommand::person(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl report person：个人剂量档案（A4 纵向 PDF，或每年一个工作表的 .xlsx）。\n"
        "默认年份：第一个有读数的年份至今年。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("第一年"), QStringLiteral("YYYY"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("最后一年（默认：今年）"), QStringLiteral("YYYY"));
    const DocumentOutput output;
    parser.addOptions({from, to, output.pdf, output.xlsx, output.force, output.db});
    parser.addPositionalArgument(QStringLiteral("ID_CARD"), QStringLiteral("人员的身份证号"));
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    const QStringList rest = parser.positionalArguments();
    if (rest.size() != 1)
        return ctl.usageError(parser.helpText(), rest.isEmpty() ? QStringLiteral("没有给出身份证号")
                                                             : QStringLiteral("多余的参数：") + rest.at(1));
    int years[2] = {0, Clock::now().date().year()};
    const QCommandLineOption* options[2] = {&from, &to};
    for (int i = 0; i < 2; ++i) {
        if (!parser.isSet(*options[i]))
            continue;
        const QString text = parser.value(*options[i]);
        bool isNumber = false;
        years[i] = text.toInt(&isNumber);
        if (!isNumber || text.size() != 4 || years[i] < 1900)
            return ctl.usageError(parser.helpText(), QStringLiteral("不是年份（YYYY）：") + text);
    }
    if (years[0] > years[1])
        return ctl.usageError(parser.helpText(), QStringLiteral("第一年 %1（--from）晚于最后一年 %2（--to）").arg(years[0]).arg(years[1]));
    const QString problem = output.problem(parser);
    if (!problem.isEmpty())
        return ctl.usageError(parser.helpText(), problem);

    const QString dbPath = parser.isSet(output.db) ? parser.value(output.db) : defaultPath;
    OutputFile::Target target;
    if (const int refused = ctl.outputTarget(dbPath, output.target(parser, QString()), output.format(parser), &target);
        refused >= 0)
        return refused;
    return ctl.withDatabase(dbPath, [&](DataBase& database, QSqlDatabase db) {
        PersonRecord record;
        QString why;
        if (!PersonRecord::load(database, db, rest.first(), years[0], years[1], record, &why))
            return why;
        return output.write(target, parser, record);
    });
}

int ReportCommand::department(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl report department：部门剂量报表（A4 横向 PDF，或 .xlsx）：每人期间剂量、"
        "期末本年累计和级别，按部门小计及合计。期间不超过10年。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("所有部门"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("期间第一天"), QStringLiteral("yyyy-MM-dd"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("期间最后一天"), QStringLiteral("yyyy-MM-dd"));
    const DocumentOutput output;
    parser.addOptions({all, from, to, output.pdf, output.xlsx, output.force, output.db});
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("部门名称（或 --all）"));
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    const QStringList rest = parser.positionalArguments();
    if (rest.size() > 1 || (rest.size() == 1) == parser.isSet(all))
        return ctl.usageError(parser.helpText(), rest.size() > 1 ? QStringLiteral("多余的参数：") + rest.at(1)
                                                                 : QStringLiteral("请给出一个部门名称 NAME 或 --all，只给一个"));
    const QDate first = QDate::fromString(parser.value(from), QStringLiteral("yyyy-MM-dd"));
    const QDate last = QDate::fromString(parser.value(to), QStringLiteral("yyyy-MM-dd"));
    // A date that is none is named; the period's own faults come from the report.
    const auto noDate = [&parser](const QCommandLineOption& option, const QDate& day) {
        if (day.isValid())
            return QString();
        return parser.isSet(option) ? QStringLiteral("不是日期（yyyy-MM-dd）：") + parser.value(option)
                                    : QStringLiteral("缺少 --%1 yyyy-MM-dd").arg(option.names().constFirst());
    };
    QString problem = noDate(from, first);
    if (problem.isEmpty())
        problem = noDate(to, last);
    if (problem.isEmpty())
        problem = PeriodReport::periodProblem(first, last);
    if (problem.isEmpty())
        problem = output.problem(parser);
    if (!problem.isEmpty())
        return ctl.usageError(parser.helpText(), problem);

    const QString department = rest.value(0);
    const QString dbPath = parser.isSet(output.db) ? parser.value(output.db) : defaultPath;
    OutputFile::Target target;
    if (const int refused = ctl.outputTarget(dbPath, output.target(parser, QString()), output.format(parser), &target);
        refused >= 0)
        return refused;
    return ctl.withDatabase(dbPath, [&](DataBase& database, QSqlDatabase db) {
        PeriodReport report;
        QString why;
        if (!PeriodReport::load(database, db, department, first, last, report, &why))
            return why;
        return output.write(target, parser, report);
    });
}
