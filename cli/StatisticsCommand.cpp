// dosectl statistics: a year's people monitored, collective dose and dose bands, per department and type.

#include "cli/StatisticsCommand.h"

#include <QCommandLineParser>
#include <QTextStream>

#include "cli/DocumentOutput.h"
#include "cli/DoseCtl.h"
#include "core/DataBase.h"
#include "core/report/AnnualStatistics.h"

StatisticsCommand::StatisticsCommand(DoseCtl& ctl)
    : ctl(ctl)
{
}

int StatisticsCommand::run(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl statistics: 年度剂量统计。每个部门和类型 (职业/非职业) 一行, 每个类型一行 (部门 全部), "
        "全体一行; 监测人数、集体剂量、人均和最大年剂量 (mSv) 及各剂量区间 (含上限) 的人数。\n"
        "年剂量为该年的记录剂量 (与 dosectl status --date YYYY-12-31 的本年剂量相同); "
        "只统计该年至少有一个月受监测的人员。\n"
        "不给 --pdf 或 --xlsx 时把 CSV 写到标准输出。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption year(QStringLiteral("year"), QStringLiteral("统计的年份"), QStringLiteral("YYYY"));
    const QCommandLineOption department(QStringLiteral("department"), QStringLiteral("只统计该部门"),
                                        QStringLiteral("NAME"));
    const DocumentOutput output;
    parser.addOptions({year, department, output.pdf, output.xlsx, output.force, output.db});
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (!parser.positionalArguments().isEmpty())
        return ctl.usageError(parser.helpText(),
                              QStringLiteral("多余的参数：") + parser.positionalArguments().first());
    if (!parser.isSet(year))
        return ctl.usageError(parser.helpText(), QStringLiteral("缺少 --year YYYY"));
    const QString yearText = parser.value(year);
    bool isNumber = false;
    const int y = yearText.toInt(&isNumber);
    if (!isNumber || yearText.size() != 4 || y < 1900)
        return ctl.usageError(parser.helpText(), QStringLiteral("不是年份（YYYY）：") + yearText);
    if (parser.isSet(department) && parser.value(department).isEmpty())
        return ctl.usageError(parser.helpText(), QStringLiteral("--department 需要部门名称"));
    const bool document = output.wanted(parser);
    if (document) {
        if (const QString problem = output.problem(parser); !problem.isEmpty())
            return ctl.usageError(parser.helpText(), problem);
    } else if (parser.isSet(output.force)) {
        return ctl.usageError(parser.helpText(), QStringLiteral("--force 只能与 --pdf FILE 或 --xlsx FILE 一起使用"));
    }

    const QString dbPath = parser.isSet(output.db) ? parser.value(output.db) : defaultPath;
    OutputFile::Target target;
    if (document) {
        if (const int refused = ctl.outputTarget(dbPath, output.target(parser, QString()), output.format(parser), &target);
            refused >= 0)
            return refused;
    }
    AnnualStatistics statistics;
    const int failed = ctl.withDatabase(dbPath, [&](DataBase& database, QSqlDatabase db) {
        QString why;
        if (!AnnualStatistics::load(database, db, parser.value(department), y, statistics, &why))
            return why;
        return document ? output.write(target, parser, statistics) : QString();
    });
    if (failed != 0 || document)
        return failed;
    // Printed only once everything was read: a failure leaves no partial table.
    ctl.out << AnnualStatistics::csvHeader() << '\n';
    for (const AnnualStatistics::Row& row : qAsConst(statistics.rows)) {
        QStringList fields = row.fields();
        for (QString& f : fields)
            f = DoseCtl::csvField(f);
        ctl.out << fields.join(QLatin1Char(',')) << '\n';
    }
    ctl.out.flush();
    return 0;
}
