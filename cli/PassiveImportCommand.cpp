// dosectl import-passive: the file and options read off the command line, the import run, its rows, refusals and
// warnings written out.

#include "cli/PassiveImportCommand.h"

#include <QCommandLineParser>
#include <QTextStream>

#include "cli/DoseCtl.h"
#include "core/import/PassiveImport.h"

namespace {

QString figure(bool has, double uSv)
{
    return has ? QString::number(uSv, 'f', 2) : QString();
}

} // namespace

PassiveImportCommand::PassiveImportCommand(DoseCtl& ctl)
    : ctl(ctl)
{
}

int PassiveImportCommand::run(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl import-passive FILE：导入实验室的个人剂量计（被动式）结果，CSV（UTF-8 或 GB18030）、.xls 或 .xlsx，"
        "读第一个工作表。表头：身份证号/ID、姓名/name、开始日期/start、结束日期/end、Hp(10)、Hp(0.07)、备注/code；"
        "剂量单位写在表头（mSv 或 μSv），未写为 mSv。同一文件再次导入不作更改。"
        "有错误的行时整个文件不导入，每行错误一行写到标准错误：line N: 原因。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption mapping(QStringLiteral("mapping"),
                                     QStringLiteral("列映射文件（INI，[columns] 组：id、name、start、end、hp10、hp007、"
                                                    "code，可选 unit、encoding）"),
                                     QStringLiteral("FILE"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"), QStringLiteral("只检查并列出将导入的结果，不保存"));
    const QCommandLineOption replace(QStringLiteral("replace"),
                                     QStringLiteral("实验室的更正结果：与已导入结果重叠的周期由本文件替换，原结果保留并标为已替换"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOptions({mapping, dryRun, replace, db});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("实验室的结果文件（.csv、.xls、.xlsx）"));
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    const QStringList rest = parser.positionalArguments();
    if (rest.size() != 1)
        return ctl.usageError(parser.helpText(), rest.isEmpty() ? QStringLiteral("请给出要导入的文件")
                                                                : QStringLiteral("多余的参数：") + rest.at(1));
    if (parser.isSet(mapping) && parser.value(mapping).isEmpty())
        return ctl.usageError(parser.helpText(), QStringLiteral("--mapping 需要一个文件"));

    PassiveImport::Options options;
    options.mapping = parser.value(mapping);
    options.dryRun = parser.isSet(dryRun);
    options.replace = parser.isSet(replace);
    PassiveImport::Outcome o;
    const int done = ctl.withDatabase(
        parser.isSet(db) ? parser.value(db) : defaultPath,
        [&](DataBase& database, QSqlDatabase connection) -> QString {
            o = PassiveImport(database, connection).run(rest.first(), options);
            return o.result == PassiveImport::Result::Failed ? o.error : QString();
        },
        true, !options.dryRun);
    if (done != 0)
        return done;

    for (const QString& w : qAsConst(o.warnings))
        ctl.out << QStringLiteral("警告：") << w << '\n';
    switch (o.result) {
    case PassiveImport::Result::AlreadyImported:
        ctl.out << QStringLiteral("此文件已导入过（%1，%2），未作更改\n").arg(o.file.importedAt, o.file.importedBy);
        ctl.out.flush();
        return 0;
    case PassiveImport::Result::Refused:
        ctl.out.flush();
        for (const QString& line : qAsConst(o.refusals))
            ctl.err << line << '\n';
        ctl.err << QStringLiteral("dosectl: 文件未导入：%1 行有错误").arg(o.refusals.size());
        if (o.onlyOverlaps)
            ctl.err << QStringLiteral("；如为实验室的更正结果，请加 --replace 导入");
        ctl.err << '\n';
        ctl.err.flush();
        return 1;
    default:
        break;
    }
    if (options.dryRun) {
        ctl.out << "line,ID_card,periodStart,periodEnd,hp10_uSv,hp007_uSv,code\n";
        for (const PassiveResultdata& r : qAsConst(o.rows))
            ctl.out << QStringList{QString::number(r.line), DoseCtl::csvField(r.ID_card), r.periodStart, r.periodEnd,
                                   figure(r.hasHp10, r.hp10_uSv), figure(r.hasHp007, r.hp007_uSv), r.code}
                           .join(QLatin1Char(','))
                    << '\n';
    }
    for (const PassiveResultdata& k : qAsConst(o.replaced))
        ctl.out << QStringLiteral("%1：%2 %3 至 %4（第 %5 次导入第 %6 行）\n")
                       .arg(options.dryRun ? QStringLiteral("将替换") : QStringLiteral("已替换"), k.ID_card,
                            k.periodStart, k.periodEnd)
                       .arg(k.importId)
                       .arg(k.line);
    if (options.dryRun)
        ctl.out << QStringLiteral("试运行：将导入 %1 行，未作更改\n").arg(o.rows.size());
    else
        ctl.out << QStringLiteral("已导入 %1 行（%2，第 %3 次导入）\n").arg(o.rows.size()).arg(o.file.fileName).arg(o.file.id);
    ctl.out.flush();
    return 0;
}
