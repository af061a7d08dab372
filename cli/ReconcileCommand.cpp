// dosectl reconcile: the results whose periods touch a window compared with the electronic dose, flagged ones first.

#include "cli/ReconcileCommand.h"

#include <QCommandLineParser>
#include <QDate>
#include <QTextStream>

#include "cli/DoseCtl.h"
#include "core/DataBase.h"
#include "core/dose/DosePolicy.h"
#include "core/dose/Reconciliation.h"
#include "core/readings/PassiveStore.h"
#include "core/register/Departdata.h"
#include "core/store/Transaction.h"

namespace {

QCommandLineOption dbOption()
{
    return QCommandLineOption(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
}

} // namespace

ReconcileCommand::ReconcileCommand(DoseCtl& ctl)
    : ctl(ctl)
{
}

int ReconcileCommand::run(const QString& dbPath, const QStringList& arguments)
{
    if (arguments.value(1) == QLatin1String("close"))
        return close(dbPath, arguments.mid(1));
    return list(dbPath, arguments);
}

int ReconcileCommand::list(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl reconcile: 个人剂量计结果与同期电子剂量的比对 (CSV)。列出期间与 [--from, --to] 相交、未被替换的结果, "
        "有标记的在前, 然后按身份证号和开始日期。\n"
        "列: ID_card,name,department,periodStart,periodEnd,passive_uSv,code,electronic_uSv,difference_uSv,"
        "difference_percent,flag\n"
        "电子剂量为结果期间每个自然月部分各自扣除本底后的剂量之和 (只用读数, 不含更正)。差值 = 电子 − 个人剂量计。\n"
        "flag: ok; differs (差值绝对值大于 reconcile_tolerance_percent % 的个人剂量计剂量与 reconcile_tolerance_uSv 中较大者; "
        "M 按 0 计, 电子剂量大于 minimum_reportable_uSv 时为 differs); not_returned; unused。"
        "已关闭的标记仍列出原来的 flag。\n"
        "dosectl reconcile close (ID | --card ID_CARD --start yyyy-MM-dd) --comment TEXT: 关闭一条有标记结果的标记 "
        "(记入审计记录, 只能关闭一次)。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("第一天"), QStringLiteral("yyyy-MM-dd"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("最后一天 (含)"), QStringLiteral("yyyy-MM-dd"));
    const QCommandLineOption department(QStringLiteral("department"), QStringLiteral("只列出该部门"),
                                        QStringLiteral("NAME"));
    const QCommandLineOption db = dbOption();
    parser.addOptions({from, to, department, db});
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (!parser.positionalArguments().isEmpty())
        return ctl.usageError(parser.helpText(), QStringLiteral("多余的参数：") + parser.positionalArguments().first());
    if (!parser.isSet(from) || !parser.isSet(to))
        return ctl.usageError(parser.helpText(), QStringLiteral("缺少 --from yyyy-MM-dd 或 --to yyyy-MM-dd"));
    const QDate first = QDate::fromString(parser.value(from), QStringLiteral("yyyy-MM-dd"));
    const QDate last = QDate::fromString(parser.value(to), QStringLiteral("yyyy-MM-dd"));
    if (!first.isValid())
        return ctl.usageError(parser.helpText(), QStringLiteral("不是日期（yyyy-MM-dd）：") + parser.value(from));
    if (!last.isValid())
        return ctl.usageError(parser.helpText(), QStringLiteral("不是日期（yyyy-MM-dd）：") + parser.value(to));
    if (last < first)
        return ctl.usageError(parser.helpText(), QStringLiteral("--to %1 早于 --from %2").arg(parser.value(to), parser.value(from)));
    if (parser.isSet(department) && parser.value(department).isEmpty())
        return ctl.usageError(parser.helpText(), QStringLiteral("--department 需要部门名称"));

    QList<Reconciliation::Row> rows;
    const QString only = parser.value(department);
    const int failed = ctl.withDatabase(parser.isSet(db) ? parser.value(db) : defaultPath,
                                        [&](DataBase& database, QSqlDatabase connection) -> QString {
                                            Departdata found;
                                            if (!only.isEmpty() && !database.selectDepartmentByName(found, only, connection))
                                                return QStringLiteral("没有部门“%1”").arg(only);
                                            bool readable = false;
                                            const DosePolicy policy = DosePolicy::load(database, connection, &readable);
                                            if (!readable)
                                                return QStringLiteral("无法读取剂量限值");
                                            QString why;
                                            if (!Reconciliation(database, connection, policy)
                                                     .run(first, last, only, rows, &why))
                                                return why;
                                            return QString();
                                        });
    if (failed != 0)
        return failed;
    // Printed only once everything was read: a failure leaves no partial table.
    ctl.out << Reconciliation::kHeader << '\n';
    for (const Reconciliation::Row& row : qAsConst(rows)) {
        QStringList fields = Reconciliation::fields(row);
        for (QString& f : fields)
            f = DoseCtl::csvField(f);
        ctl.out << fields.join(QLatin1Char(',')) << '\n';
    }
    ctl.out.flush();
    return 0;
}

int ReconcileCommand::close(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl reconcile close (ID | --card ID_CARD --start yyyy-MM-dd) --comment TEXT: 关闭一条有标记的个人剂量计结果的"
        "比对标记并写下说明; 记入审计记录, 只能关闭一次。结果由编号 (PassiveResult 的 id) 或 CSV 中的身份证号和开始日期指定。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption comment(QStringLiteral("comment"), QStringLiteral("说明"), QStringLiteral("TEXT"));
    const QCommandLineOption card(QStringLiteral("card"), QStringLiteral("结果的身份证号"), QStringLiteral("ID_CARD"));
    const QCommandLineOption start(QStringLiteral("start"), QStringLiteral("结果的开始日期"), QStringLiteral("yyyy-MM-dd"));
    const QCommandLineOption db = dbOption();
    parser.addOptions({comment, card, start, db});
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("结果的编号"));
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    const QStringList rest = parser.positionalArguments();
    const bool byCard = parser.isSet(card) || parser.isSet(start);
    bool isNumber = false;
    const int id = rest.value(0).toInt(&isNumber);
    if (byCard ? !rest.isEmpty() || parser.value(card).isEmpty() || !parser.isSet(start)
               : !isNumber || id <= 0 || rest.size() != 1)
        return ctl.usageError(parser.helpText(), QStringLiteral("请给出一个结果编号, 或 --card ID_CARD 和 --start yyyy-MM-dd"));
    const QDate first = QDate::fromString(parser.value(start), QStringLiteral("yyyy-MM-dd"));
    if (byCard && !first.isValid())
        return ctl.usageError(parser.helpText(), QStringLiteral("不是日期（yyyy-MM-dd）：") + parser.value(start));
    if (parser.value(comment).trimmed().isEmpty())
        return ctl.usageError(parser.helpText(), QStringLiteral("缺少 --comment TEXT"));
    return ctl.withDatabase(
        parser.isSet(db) ? parser.value(db) : defaultPath,
        [&](DataBase& database, QSqlDatabase connection) -> QString {
            bool readable = false;
            const DosePolicy policy = DosePolicy::load(database, connection, &readable);
            if (!readable)
                return QStringLiteral("无法读取剂量限值");
            int which = id;
            if (byCard) {
                // The result that counts with this card and start, as the CSV lists it.
                const QString day = first.toString(QStringLiteral("yyyyMMdd"));
                QList<PassiveResultdata> found;
                if (!PassiveStore(database).selectCurrent(found, day, day, parser.value(card), connection))
                    return QStringLiteral("无法读取个人剂量计结果");
                QList<int> ids;
                for (const PassiveResultdata& r : qAsConst(found)) {
                    if (r.periodStart == day)
                        ids << r.id;
                }
                if (ids.isEmpty())
                    return QStringLiteral("%1 没有从 %2 开始的个人剂量计结果").arg(parser.value(card), parser.value(start));
                if (ids.size() > 1)
                    return QStringLiteral("%1 有 %2 条从 %3 开始的结果, 请用编号指定").arg(parser.value(card)).arg(ids.size()).arg(parser.value(start));
                which = ids.first();
            }
            QString why;
            return Reconciliation(database, connection, policy)
                       .close(which, parser.value(comment), Transaction::actor(), &why)
                ? QString()
                : why;
        },
        true, true);
}
