// dosectl's commands: each parses its arguments, picks the store or file and does its work on it.

#include "cli/DoseCtl.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>

#include "cli/AdjustCommand.h"
#include "cli/PassiveImportCommand.h"
#include "cli/ReconcileCommand.h"
#include "cli/ReportCommand.h"
#include "cli/StatisticsCommand.h"
#include "core/time/Clock.h"
#include "core/store/DataDir.h"
#include "core/store/DataFolderLock.h"
#include "core/DataBase.h"
#include "core/backup/DatabaseBackup.h"
#include "core/readings/IntegrityCheck.h"
#include "core/store/RegisterFile.h"
#include "core/store/Dialect.h"
#include "core/store/StoreConfig.h"
#include "core/backup/StoreMigration.h"
#include "core/dose/DoseStatus.h"
#include "core/export/OutputFile.h"

namespace {

QString twoDecimals(double v)
{
    return QString::number(v, 'f', 2);
}

// Backups of a shared store are the server's.
QString noFileBackup(const StoreConfig& store)
{
    return QStringLiteral("%1 是 PostgreSQL 数据库：请用服务器的备份工具（pg_dump）备份和恢复；"
                          "backup 和 restore 只用于 SQLite 文件")
        .arg(store.describe());
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

int DoseCtl::parsed(QCommandLineParser& parser, const QStringList& arguments, const QCommandLineOption& help)
{
    if (!parser.parse(arguments))
        return usageError(parser.helpText(), parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    return -1;
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
    parser.setApplicationDescription(QStringLiteral("个人剂量管理系统的命令行工具。\n\n命令：\n"
                                                    "  status   每人的季度、本年、近12个月和五年剂量及级别（CSV）\n"
                                                    "  check    检查数据库的一致性（--repair 按读数重建日、月累计）\n"
                                                    "  backup   把数据库备份到一个文件（PATH [--force]）\n"
                                                    "  restore  用一个备份文件恢复数据库（PATH）\n"
                                                    "  migrate  把 SQLite 数据库复制到配置的 PostgreSQL 数据库"
                                                    "（--from PATH）\n"
                                                    "  report   个人剂量档案（report person）或部门剂量报表（report department），"
                                                    "PDF 或 .xlsx\n"
                                                    "  statistics  年度剂量统计：按部门和类型的监测人数、集体剂量和剂量分布"
                                                    "（--year YYYY；CSV、PDF 或 .xlsx）\n"
                                                    "  adjust   剂量更正和估算剂量：add、list、approve、withdraw\n"
                                                    "  import-passive  导入实验室的个人剂量计结果（FILE [--mapping FILE] "
                                                    "[--dry-run] [--replace]）\n"
                                                    "  reconcile  个人剂量计结果与电子剂量的比对（--from --to，CSV）；"
                                                    "reconcile close 关闭标记"));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("显示版本"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("SQLite 数据库文件（默认：zudovi.ini 的 [database]，"
                                               "未配置时 database.db）"),
                                QStringLiteral("PATH"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("数据文件夹：在其中读 zudovi.ini 和 database.db"), QStringLiteral("DIR"));
    parser.addOption(version);
    parser.addOption(db);
    parser.addOption(dataDir);
    parser.addPositionalArgument(QStringLiteral("命令"),
                                 QStringLiteral("status | check | backup | restore | report | statistics | migrate | adjust | "
                                                "import-passive | reconcile"));
    if (!parser.parse(arguments))
        return usageError(parser.helpText(), parser.errorText());
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        out << "dosectl " << DOSE_VERSION << '\n';
        return 0;
    }
    const QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError(parser.helpText(), QStringLiteral("没有给出命令"));
    // The data folder only moves the settings and the default database;
    // paths given on the command line stay relative to where dosectl was
    // started.
    const QString dbPath = parser.value(db);
    if (parser.isSet(dataDir)) {
        // Reading needs no folder to write in.
        const QString dir = parser.value(dataDir);
        const bool onlyReads = rest.first() == QLatin1String("status") || rest.first() == QLatin1String("report")
            || rest.first() == QLatin1String("statistics")
            || (rest.first() == QLatin1String("adjust") && rest.value(1) == QLatin1String("list"))
            || (rest.first() == QLatin1String("reconcile") && rest.value(1) != QLatin1String("close"))
            || (rest.first() == QLatin1String("check") && !rest.contains(QStringLiteral("--repair")));
        const QString problem = !onlyReads ? DataDir::prepare(dir, false)
            : QFileInfo(dir).isDir()       ? QString()
                                           : QStringLiteral("文件夹不存在：") + dir;
        if (!problem.isEmpty())
            return failure(problem);
        folder = dir;
    }
    if (rest.first() == QLatin1String("status"))
        return status(dbPath, rest);
    if (rest.first() == QLatin1String("check"))
        return check(dbPath, rest);
    if (rest.first() == QLatin1String("backup"))
        return backup(dbPath, rest);
    if (rest.first() == QLatin1String("restore"))
        return restore(dbPath, rest);
    if (rest.first() == QLatin1String("report"))
        return ReportCommand(*this).run(dbPath, rest);
    if (rest.first() == QLatin1String("statistics"))
        return StatisticsCommand(*this).run(dbPath, rest);
    if (rest.first() == QLatin1String("migrate"))
        return migrate(dbPath, rest);
    if (rest.first() == QLatin1String("adjust"))
        return AdjustCommand(*this).run(dbPath, rest);
    if (rest.first() == QLatin1String("import-passive"))
        return PassiveImportCommand(*this).run(dbPath, rest);
    if (rest.first() == QLatin1String("reconcile"))
        return ReconcileCommand(*this).run(dbPath, rest);
    return usageError(parser.helpText(), QStringLiteral("未知的命令：") + rest.first());
}

int DoseCtl::status(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("dosectl status：每个人员一行 CSV，按部门、人员编号排序"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption date(QStringLiteral("date"), QStringLiteral("截至该日最后一小时（默认：现在）"),
                                  QStringLiteral("yyyy-MM-dd"));
    const QCommandLineOption department(QStringLiteral("department"), QStringLiteral("只列出该部门"),
                                        QStringLiteral("NAME"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOptions({date, department, db});
    if (const int shown = parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser.helpText(), QStringLiteral("多余的参数：") + parser.positionalArguments().first());

    QDateTime at = Clock::now();
    if (parser.isSet(date)) {
        const QDate day = QDate::fromString(parser.value(date), QStringLiteral("yyyy-MM-dd"));
        if (!day.isValid())
            return usageError(parser.helpText(), QStringLiteral("不是日期（yyyy-MM-dd）：") + parser.value(date));
        at = QDateTime(day, QTime(23, 0));
    }

    QList<PersonStatus> rows;
    const QString only = parser.value(department);
    const int failed = withDatabase(
        parser.isSet(db) ? parser.value(db) : defaultPath,
        [&](DataBase& database, QSqlDatabase connection) -> QString {
            Departdata found;
            if (parser.isSet(department) && !database.selectDepartmentByName(found, only, connection))
                return QStringLiteral("没有部门“%1”").arg(only);
            if (!DoseStatus(database, connection).evaluate(rows, at, only))
                return QStringLiteral("无法读取数据库 ") + database.storeConfig().describe();
            return QString();
        });
    if (failed != 0)
        return failed;

    out << "ID_card,name,department,type,quarter_uSv,year_uSv,last12_uSv,five_year_uSv,level,adjusted\n";
    for (const PersonStatus& p : rows) {
        const QStringList fields{csvField(p.ID_card),
                                 csvField(p.name),
                                 csvField(p.department),
                                 p.ptype == 0 ? QStringLiteral("职业") : QStringLiteral("非职业"),
                                 twoDecimals(p.figures.quarter),
                                 twoDecimals(p.figures.year),
                                 twoDecimals(p.figures.last12),
                                 twoDecimals(p.figures.fiveYear),
                                 DoseLevel::word(p.verdict.level),
                                 p.figures.adjusted.join(QLatin1Char(';'))};
        out << fields.join(QLatin1Char(',')) << '\n';
    }
    out.flush();
    return 0;
}

int DoseCtl::check(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("dosectl check：检查数据库文件、日累计（Monthdata）和月累计（Yeardata）与读数是否一致、"
                       "重复的读数、重叠的佩戴记录和格式错误的时间键。"
                       "每个问题一行；没有问题时输出 ok，退出码 0，否则 1。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption repair(QStringLiteral("repair"),
                                    QStringLiteral("按读数重建有读数的日、月累计（一个事务，记入审计日志）；"
                                                   "读数从不改动，没有读数的累计保留并列出"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOptions({repair, db});
    if (const int shown = parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser.helpText(), QStringLiteral("多余的参数：") + parser.positionalArguments().first());

    QList<IntegrityFinding> findings;
    IntegrityRepair repaired;
    const QString path = parser.isSet(db) ? parser.value(db) : defaultPath;
    // A repair rewrites totals: not while the program stores replies into
    // them. A check only reads.
    DataFolderLock lock(lockedFolder(path));
    if (QString held; parser.isSet(repair) && !lock.tryLock(&held))
        return failure(held);
    // No createTables here: a check reads the database as it is.
    const int failed = withDatabase(
        path,
        [&](DataBase& database, QSqlDatabase connection) -> QString {
            IntegrityCheck checker(database, connection);
            // A repair writes as the program does, in the same journal mode.
            if (parser.isSet(repair))
                Dialect::useWriteAheadLog(connection);
            if (parser.isSet(repair) ? checker.repair(repaired) : checker.check(findings))
                return QString();
            return checker.error() + QStringLiteral("（") + database.storeConfig().describe() + QStringLiteral("）");
        },
        false, parser.isSet(repair));
    if (failed != 0)
        return failed;

    if (parser.isSet(repair)) {
        for (const QString& change : qAsConst(repaired.changes))
            out << change << '\n';
        if (repaired.days.changed() > 0)
            out << QStringLiteral("已修复 Monthdata：") << repaired.days.shown() << '\n';
        if (repaired.months.changed() > 0)
            out << QStringLiteral("已修复 Yeardata：") << repaired.months.shown() << '\n';
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
    parser.setApplicationDescription(QStringLiteral("dosectl backup PATH：把数据库的一致副本写到 PATH，"
                                                    "打印路径、大小和各表行数"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("覆盖已存在的 PATH"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOptions({force, db});
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("备份文件"));
    if (const int shown = parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (parser.positionalArguments().size() != 1)
        return usageError(parser.helpText(), QStringLiteral("应给出一个备份文件"));
    if (const QString wrong = OutputFile::endingProblem(parser.positionalArguments().at(0), OutputFile::Format::Backup);
        !wrong.isEmpty())
        return usageError(parser.helpText(), wrong);

    StoreConfig store;
    if (const int failed = pickFile(parser.isSet(db) ? parser.value(db) : defaultPath, store); failed >= 0)
        return failed;
    BackupReport report;
    QString reason;
    const QString source = store.path;
    if (!DatabaseBackup::backup(source, parser.positionalArguments().at(0), parser.isSet(force), &report, &reason))
        return failure(reason);
    out << QStringLiteral("备份：") << report.path << '\n'
        << QStringLiteral("大小：") << report.size << QStringLiteral(" 字节\n");
    for (const auto& c : qAsConst(report.counts))
        out << c.first << QStringLiteral("：") << c.second << QStringLiteral(" 行\n");
    out.flush();
    if (!report.audited)
        err << QStringLiteral("dosectl: 警告：备份未记入 ") << source << QStringLiteral(" 的审计日志\n");
    err.flush();
    return 0;
}

int DoseCtl::restore(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("dosectl restore PATH：用备份 PATH 替换数据库；当前数据库保存为 "
                                                    "database.db.before-restore-yyyyMMdd-hhmmss。先关闭程序。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH"));
    parser.addOption(db);
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("备份文件"));
    if (const int shown = parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (parser.positionalArguments().size() != 1)
        return usageError(parser.helpText(), QStringLiteral("应给出一个备份文件"));

    const QString path = parser.isSet(db) ? parser.value(db) : defaultPath;
    StoreConfig store;
    if (const int failed = pickFile(path, store); failed >= 0)
        return failed;
    DataFolderLock lock(lockedFolder(path));
    if (QString held; !lock.tryLock(&held))
        return failure(held);
    QString kept, reason;
    const QString target = store.path;
    if (!DatabaseBackup::restore(parser.positionalArguments().at(0), target, Clock::now(), &kept, &reason))
        return failure(reason);
    out << QStringLiteral("已恢复：") << QFileInfo(target).absoluteFilePath() << '\n'
        << QStringLiteral("原数据库保留为：") << kept << '\n';
    out.flush();
    return 0;
}

QString DoseCtl::lockedFolder(const QString& path) const
{
    if (!path.isEmpty())
        return QFileInfo(path).absolutePath();
    return folder.isEmpty() ? QDir::currentPath() : folder;
}

int DoseCtl::pickStore(const QString& path, StoreConfig& store)
{
    if (!path.isEmpty()) {
        store = StoreConfig::file(path);
        return -1;
    }
    QSettings settings(QDir(folder).filePath(QStringLiteral("zudovi.ini")), QSettings::IniFormat);
    QString why;
    if (!StoreConfig::read(settings, store, &why))
        return failure(why);
    store.path = QDir(folder).filePath(store.path);
    return -1;
}

int DoseCtl::pickFile(const QString& path, StoreConfig& store)
{
    if (const int failed = pickStore(path, store); failed >= 0)
        return failed;
    return store.isShared() ? failure(noFileBackup(store)) : -1;
}

int DoseCtl::outputTarget(const QString& path, const OutputFile::Target& wanted, OutputFile::Format format,
                          OutputFile::Target* target)
{
    StoreConfig store;
    if (const int failed = pickStore(path, store); failed >= 0)
        return failed;
    *target = wanted;
    target->database = store.isShared() ? QString() : store.path;
    // Refused before the database is even opened.
    const QString refused = OutputFile::refusal(*target, format);
    return refused.isEmpty() ? -1 : failure(refused);
}

int DoseCtl::withDatabase(const QString& path, const std::function<QString(DataBase&, QSqlDatabase)>& work,
                          bool layOut, bool writes)
{
    StoreConfig store;
    if (const int failed = pickStore(path, store); failed >= 0)
        return failed;
    if (!store.isShared()) {
        // Opening a file that is not there would create an empty database;
        // an empty or foreign one would be taken for a new register.
        if (!QFileInfo(store.path).isFile())
            return failure(QStringLiteral("找不到数据库文件：") + store.path);
        if (const QString problem = RegisterFile::problem(store.path); !problem.isEmpty())
            return failure(problem);
        // Reading needs no set-up: a file this account may not write is
        // read as it is.
        store.readOnly = !writes && !RegisterFile::writable(store.path);
    }
    DataBase database(store);
    if (!database.isOpen())
        return failure(
            QStringLiteral("无法打开数据库 %1：%2").arg(store.describe(), database.openError()));
    // A file the program has not opened since the wear periods came gains
    // them here as it would there: without them no reading is anyone's.
    if (layOut && !store.readOnly && (!database.createTables() || !database.createAddedTables())) {
        const QStringList missing = database.missingLayout();
        if (!missing.isEmpty())
            return failure(QStringLiteral("数据库 %1 缺少%2；须由其所有者建立（以所有者的角色首次启动程序，"
                                          "或运行 dosectl migrate）")
                               .arg(store.describe(), missing.join(QStringLiteral("、"))));
        return failure(QStringLiteral("无法打开数据库 ") + store.describe());
    }
    QString problem;
    {
        const QString conn = QStringLiteral("dosectl.db");
        database.createConnection(conn);
        QSqlDatabase connection = database.getConnection(conn);
        if (!connection.isOpen())
            problem = QStringLiteral("无法打开数据库 ") + store.describe();
        else if (layOut && store.readOnly && !Dialect::hasTable(connection, database.wearingTable)
                 && database.countRows(database.deviceTable, connection) != 0)
            problem = QStringLiteral("%1 还没有佩戴记录表（Wearing），只读时无法计算；请先用能写入它的帐户打开一次")
                          .arg(store.path);
        else
            problem = work(database, connection);
        connection = QSqlDatabase();
        database.closeConnection(conn);
        QSqlDatabase::removeDatabase(conn);
    }
    return problem.isEmpty() ? 0 : failure(problem);
}

int DoseCtl::migrate(const QString& defaultPath, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "dosectl migrate --from PATH：把 SQLite 数据库 PATH 的所有表（保留编号）在一个事务中复制到 zudovi.ini "
        "[database] 配置的 PostgreSQL 数据库；目标须为空。复制后比较两边各表的行数和剂量总和，"
        "全部一致才提交，否则什么也不留下（退出码 1）。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("要迁移的 SQLite 数据库文件"),
                                  QStringLiteral("PATH"));
    parser.addOption(from);
    if (const int shown = parsed(parser, arguments, help); shown >= 0)
        return shown;
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser.helpText(),
                          QStringLiteral("多余的参数：") + parser.positionalArguments().first());
    if (!parser.isSet(from) || parser.value(from).isEmpty())
        return usageError(parser.helpText(), QStringLiteral("请用 --from PATH 给出要迁移的 SQLite 数据库文件"));

    StoreConfig store;
    if (const int failed = pickStore(defaultPath, store); failed >= 0)
        return failed;
    if (!store.isShared())
        return failure(QStringLiteral("migrate 只复制到 PostgreSQL 数据库：请在 zudovi.ini 的 [database] 中设置 "
                                      "driver=QPSQL（现在的数据库是 %1）")
                           .arg(store.describe()));
    DataFolderLock lock(lockedFolder(defaultPath));
    if (QString held; !lock.tryLock(&held))
        return failure(held);
    StoreMigration migration(parser.value(from), store);
    migration.setProgress([this](const QString& table, qint64 copied, qint64 total) {
        err << table << QStringLiteral("：") << copied << " / " << total << '\n';
        err.flush();
    });
    const bool ok = migration.run();
    if (!migration.tallies().isEmpty()) {
        const auto line = [this](const QString& table, const QString& rows, const QString& copies,
                                 const QString& sum, const QString& copiedSum) {
            // Padded to a terminal's columns: a Chinese character takes two.
            const auto cell = [](const QString& text, int width) {
                int columns = 0;
                for (const QChar c : text)
                    columns += c.unicode() >= 0x2E80 ? 2 : 1;
                const QString pad(qMax(0, qAbs(width) - columns), QLatin1Char(' '));
                return width < 0 ? text + pad : pad + text;
            };
            out << cell(table, -12) << ' ' << cell(rows, 12) << ' ' << cell(copies, 12) << ' ' << cell(sum, 16) << ' '
                << cell(copiedSum, 16) << '\n';
        };
        line(QStringLiteral("表"), QStringLiteral("文件行数"), QStringLiteral("服务器行数"),
             QStringLiteral("文件剂量和"), QStringLiteral("服务器剂量和"));
        for (const StoreMigration::Tally& t : migration.tallies()) {
            const auto sum = [&t](double v) { return t.summed ? QString::number(v, 'f', 3) : QStringLiteral("-"); };
            line(t.table, QString::number(t.sourceRows), QString::number(t.targetRows), sum(t.sourceSum),
                 sum(t.targetSum));
        }
        out.flush();
    }
    if (!ok)
        return failure(migration.error());
    out << QStringLiteral("已迁移：") << migration.copiedRows() << QStringLiteral(" 行，从 ")
        << QFileInfo(parser.value(from)).absoluteFilePath()
        << QStringLiteral(" 到 ") << store.describe() << '\n';
    out.flush();
    return 0;
}
