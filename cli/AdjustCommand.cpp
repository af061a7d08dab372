// dosectl adjust: an adjustment filed with its value, the adjustments listed as CSV, one approved or withdrawn.

#include "cli/AdjustCommand.h"

#include <QCommandLineParser>
#include <QDate>
#include <QTextStream>

#include "cli/DoseCtl.h"
#include "core/DataBase.h"
#include "core/dose/AdjustmentStore.h"
#include "core/dose/NotionalDose.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"

namespace {

const QString kUsage = QStringLiteral(
    "用法:\n"
    "  dosectl adjust add ID_CARD yyyyMM (--value uSv | --method mean12|dept_median) --kind replace|notional "
    "--reason TEXT\n"
    "      登记剂量更正 (replace) 或估算剂量 (notional); 原始读数不变\n"
    "  dosectl adjust list [--pending]\n"
    "      剂量更正 CSV: id,ID_card,name,month,kind,method,value_uSv,state,createdBy,createdAt,approvedBy,approvedAt,reason\n"
    "  dosectl adjust approve ID\n"
    "      批准 (须由另一账户)\n"
    "  dosectl adjust withdraw ID --reason TEXT\n"
    "      撤回待批准的更正\n"
    "每个子命令都有 --help。\n");

QCommandLineOption dbOption()
{
    return QCommandLineOption(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
}

} // namespace

const char* const AdjustCommand::kHeader =
    "id,ID_card,name,month,kind,method,value_uSv,state,createdBy,createdAt,approvedBy,approvedAt,reason";

AdjustCommand::AdjustCommand(DoseCtl& ctl)
    : ctl(ctl)
{
}

QString AdjustCommand::csvRow(const DoseAdjustmentdata& a)
{
    return QStringList{QString::number(a.id),
                       DoseCtl::csvField(a.ID_card),
                       DoseCtl::csvField(a.name),
                       a.month,
                       a.kind,
                       a.method,
                       QString::number(a.value_uSv, 'f', 2),
                       a.state,
                       DoseCtl::csvField(a.createdBy),
                       a.createdAt,
                       DoseCtl::csvField(a.approvedBy),
                       a.approvedAt,
                       DoseCtl::csvField(a.reason)}
        .join(QLatin1Char(','));
}

int AdjustCommand::run(const QString& dbPath, const QStringList& arguments)
{
    const QString sub = arguments.value(1);
    if (sub == QLatin1String("add"))
        return add(dbPath, arguments.mid(1));
    if (sub == QLatin1String("list"))
        return list(dbPath, arguments.mid(1));
    if (sub == QLatin1String("approve"))
        return approve(dbPath, arguments.mid(1));
    if (sub == QLatin1String("withdraw"))
        return withdraw(dbPath, arguments.mid(1));
    if (sub == QLatin1String("--help") || sub == QLatin1String("-h")) {
        ctl.out << kUsage;
        return 0;
    }
    return ctl.usageError(kUsage, sub.isEmpty() ? QStringLiteral("adjust 需要 add、list、approve 或 withdraw")
                                                : QStringLiteral("未知的 adjust 命令：") + sub);
}

int AdjustCommand::add(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl adjust add: 登记一个月的剂量更正或估算剂量。mean12 与 dept_median 的数值在登记时算出并固定。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption value(QStringLiteral("value"), QStringLiteral("给定的剂量 (μSv)"), QStringLiteral("uSv"));
    const QCommandLineOption method(QStringLiteral("method"), QStringLiteral("mean12 或 dept_median"),
                                    QStringLiteral("METHOD"));
    const QCommandLineOption kind(QStringLiteral("kind"), QStringLiteral("replace 或 notional"), QStringLiteral("KIND"));
    const QCommandLineOption reason(QStringLiteral("reason"), QStringLiteral("原因 (至少 10 个字)"),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption db = dbOption();
    parser.addOptions({value, method, kind, reason, db});
    parser.addPositionalArgument(QStringLiteral("ID_CARD"), QStringLiteral("人员的身份证号"));
    parser.addPositionalArgument(QStringLiteral("yyyyMM"), QStringLiteral("月份"));
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    const QStringList rest = parser.positionalArguments();
    if (rest.size() != 2)
        return ctl.usageError(parser.helpText(), rest.size() < 2 ? QStringLiteral("缺少 ID_CARD 和 yyyyMM")
                                                                 : QStringLiteral("多余的参数：") + rest.at(2));
    if (!QDate::fromString(rest.at(1) + QStringLiteral("01"), QStringLiteral("yyyyMMdd")).isValid()
        || rest.at(1).size() != 6)
        return ctl.usageError(parser.helpText(), QStringLiteral("不是月份（yyyyMM）：") + rest.at(1));
    if (parser.isSet(value) == parser.isSet(method))
        return ctl.usageError(parser.helpText(), QStringLiteral("请给出 --value uSv 或 --method，只给一个"));
    const QString how = parser.isSet(method) ? parser.value(method) : QStringLiteral("stated");
    if (parser.isSet(method) && how != QLatin1String("mean12") && how != QLatin1String("dept_median"))
        return ctl.usageError(parser.helpText(), QStringLiteral("--method is mean12 or dept_median: ") + how);
    if (parser.value(kind) != QLatin1String("replace") && parser.value(kind) != QLatin1String("notional"))
        return ctl.usageError(parser.helpText(), QStringLiteral("--kind is replace or notional"));
    if (!parser.isSet(reason))
        return ctl.usageError(parser.helpText(), QStringLiteral("--reason TEXT is required"));
    AdjustmentStore::Filing filing;
    filing.idCard = rest.at(0);
    filing.month = rest.at(1);
    filing.kind = parser.value(kind);
    filing.method = how;
    filing.reason = parser.value(reason);
    if (parser.isSet(value)) {
        bool isNumber = false;
        filing.value = parser.value(value).toDouble(&isNumber);
        if (!isNumber || !qIsFinite(filing.value))
            return ctl.usageError(parser.helpText(), QStringLiteral("不是数字：") + parser.value(value));
    }
    DoseAdjustmentdata filed;
    const int done = ctl.withDatabase(
        parser.isSet(db) ? parser.value(db) : defaultPath,
        [&](DataBase& database, QSqlDatabase connection) -> QString {
            QString why;
            // What is refused before anything is read is refused before the value is worked out.
            if (filing.method == QLatin1String("stated")) {
                why = AdjustmentStore::problem(filing, Clock::now().toString(QStringLiteral("yyyyMM")));
            } else {
                filing.value = 0;
                why = AdjustmentStore::problem(filing, Clock::now().toString(QStringLiteral("yyyyMM")));
                if (why.isEmpty()
                    && !NotionalDose::value(database, connection, filing.idCard, filing.month, filing.method,
                                            filing.value, &why))
                    return why;
            }
            if (!why.isEmpty())
                return why;
            AdjustmentStore adjustments(database);
            const int id = adjustments.file(filing, Transaction::actor(), &why, connection);
            if (id == 0)
                return why;
            QList<DoseAdjustmentdata> all;
            if (!adjustments.select(all, false, connection))
                return QStringLiteral("已登记为 %1，但无法读回").arg(id);
            for (const DoseAdjustmentdata& a : qAsConst(all)) {
                if (a.id == id)
                    filed = a;
            }
            return QString();
        },
        true, true);
    if (done != 0)
        return done;
    ctl.out << kHeader << '\n' << csvRow(filed) << '\n';
    ctl.out.flush();
    return 0;
}

int AdjustCommand::list(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("dosectl adjust list: 剂量更正 CSV, 按编号排序"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption pending(QStringLiteral("pending"), QStringLiteral("只列出待批准的"));
    const QCommandLineOption db = dbOption();
    parser.addOptions({pending, db});
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (!parser.positionalArguments().isEmpty())
        return ctl.usageError(parser.helpText(),
                              QStringLiteral("多余的参数：") + parser.positionalArguments().first());
    QList<DoseAdjustmentdata> rows;
    const int done = ctl.withDatabase(parser.isSet(db) ? parser.value(db) : defaultPath,
                                      [&](DataBase& database, QSqlDatabase connection) -> QString {
                                          if (!AdjustmentStore(database).select(rows, parser.isSet(pending), connection))
                                              return QStringLiteral("无法读取剂量更正：")
                                                  + database.storeConfig().describe();
                                          return QString();
                                      });
    if (done != 0)
        return done;
    ctl.out << kHeader << '\n';
    for (const DoseAdjustmentdata& a : qAsConst(rows))
        ctl.out << csvRow(a) << '\n';
    ctl.out.flush();
    return 0;
}

namespace {

// The one positional ID of approve and withdraw; 0 when it is none.
int idOf(const QCommandLineParser& parser)
{
    bool isNumber = false;
    const int id = parser.positionalArguments().value(0).toInt(&isNumber);
    return isNumber && id > 0 && parser.positionalArguments().size() == 1 ? id : 0;
}

} // namespace

int AdjustCommand::approve(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("dosectl adjust approve ID: 批准待批准的剂量更正; 提交者本人不能批准。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption db = dbOption();
    parser.addOption(db);
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("更正的编号"));
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    const int id = idOf(parser);
    if (id == 0)
        return ctl.usageError(parser.helpText(), QStringLiteral("请给出一个剂量更正编号"));
    return ctl.withDatabase(
        parser.isSet(db) ? parser.value(db) : defaultPath,
        [&](DataBase& database, QSqlDatabase connection) -> QString {
            QString why;
            return AdjustmentStore(database).approve(id, Transaction::actor(), &why, connection) ? QString() : why;
        },
        true, true);
}

int AdjustCommand::withdraw(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl adjust withdraw ID --reason TEXT: 撤回待批准的剂量更正。已批准的更正不撤回: 由同月更晚批准的更正取代, "
        "两者都保留。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption reason(QStringLiteral("reason"), QStringLiteral("撤回的原因"), QStringLiteral("TEXT"));
    const QCommandLineOption db = dbOption();
    parser.addOptions({reason, db});
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("更正的编号"));
    if (const int shown = ctl.parsed(parser, arguments, help); shown >= 0)
        return shown;
    const int id = idOf(parser);
    if (id == 0)
        return ctl.usageError(parser.helpText(), QStringLiteral("请给出一个剂量更正编号"));
    if (!parser.isSet(reason))
        return ctl.usageError(parser.helpText(), QStringLiteral("--reason TEXT is required"));
    return ctl.withDatabase(
        parser.isSet(db) ? parser.value(db) : defaultPath,
        [&](DataBase& database, QSqlDatabase connection) -> QString {
            QString why;
            return AdjustmentStore(database).withdraw(id, parser.value(reason), Transaction::actor(), &why, connection)
                ? QString()
                : why;
        },
        true, true);
}
