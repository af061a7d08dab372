// Telling a register from an empty, damaged or foreign file: its SQLite header, its tables and their columns.

#include "core/store/RegisterFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <unistd.h>

#include "core/store/FileConnection.h"
#include "core/store/Dialect.h"

namespace {

struct Table
{
    const char* name;
    const char* columns;
    bool always; // one of the seven every register has had from the start
};

// The columns the program reads, as the tables are created.
const Table kTables[] = {
    {"Department", "id department dname", true},
    {"Staff", "id ID_card name gender ptype totalValue department teleNo adress photo", true},
    {"Device", "id slaveId ID_card dataTime", true},
    {"Realdata", "id slaveId dataTime probeValue", true},
    {"Monthdata", "id slaveId dataTime probeValue", true},
    {"Yeardata", "id slaveId dataTime probeValue", true},
    {"SeqYeardata", "id slaveId dataTime probeValue ID_card", true},
    {"Wearing", "id slaveId ID_card startTime endTime", false},
    {"DosePolicy", "name value", false},
    {"DoseAlert", "id ID_card level periodKey dose threshold raisedAt ackAt ackBy comment", false},
    {"AuditLog", "id at actor action tableName rowKey detail", false},
    {"DoseAdjustment",
     "id ID_card month kind value_uSv method reason createdBy createdAt approvedBy approvedAt withdrawnBy withdrawnAt "
     "withdrawReason state",
     false},
    {"PassiveImport", "id fileName sha256 importedBy importedAt rows content", false},
    {"PassiveResult",
     "id ID_card periodStart periodEnd hp10_uSv hp007_uSv code importId line replacedBy closedBy closedAt closeComment",
     false},
};

bool canWrite(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

} // namespace

QByteArray RegisterFile::header(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(100) : QByteArray();
}

QString RegisterFile::fileProblem(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("找不到文件：") + path;
    if (!info.isFile())
        return QStringLiteral("不是文件：") + path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("无法读取 %1：%2").arg(path, file.errorString());
    const QByteArray start = file.read(16);
    if (start.isEmpty())
        return QStringLiteral("文件是空的：") + path;
    if (start != QByteArray("SQLite format 3", 16))
        return QStringLiteral("不是 SQLite 数据库：") + path;
    return QString();
}

QString RegisterFile::layoutProblem(const QSqlDatabase& db, const QString& path)
{
    QSqlQuery q(db);
    // Unreadable pages would pass for missing tables below.
    if (!db.isOpen() || !q.exec(QStringLiteral("select count(*) from sqlite_master")) || !q.next())
        return QStringLiteral("无法读取 %1：%2").arg(path, (db.isOpen() ? q.lastError() : db.lastError()).text());
    QStringList missingTables, missingColumns;
    for (const Table& t : kTables) {
        const QString table = QLatin1String(t.name);
        const QStringList present = Dialect::columns(db, table);
        if (present.isEmpty()) {
            if (t.always)
                missingTables << table;
            continue;
        }
        QStringList lacking;
        for (const QString& column : QString::fromLatin1(t.columns).split(QLatin1Char(' '))) {
            if (!present.contains(column, Qt::CaseInsensitive))
                lacking << column;
        }
        if (!lacking.isEmpty())
            missingColumns << QStringLiteral("表 %1 缺少列 %2").arg(table, lacking.join(QStringLiteral("、")));
    }
    if (!missingTables.isEmpty())
        missingColumns.prepend(QStringLiteral("缺少表 ") + missingTables.join(QStringLiteral("、")));
    if (missingColumns.isEmpty())
        return QString();
    return QStringLiteral("不是本程序的数据库（%1）：%2").arg(missingColumns.join(QStringLiteral("；")), path);
}

QString RegisterFile::problem(const QString& path)
{
    QString why = fileProblem(path);
    if (!why.isEmpty())
        return why;
    // Where it may, the connection rolls back what a crash left in a journal.
    if (writable(path)) {
        FileConnection c(path, false);
        return layoutProblem(c.db, path);
    }
    QString options;
    const QString name = readOnlyName(path, &options, &why);
    if (!why.isEmpty())
        return why;
    FileConnection c(name, options);
    return layoutProblem(c.db, path);
}

bool RegisterFile::writable(const QString& path)
{
    return canWrite(path) && canWrite(QFileInfo(path).absolutePath());
}

QString RegisterFile::readOnlyName(const QString& path, QString* options, QString* problem)
{
    const QString file = QFileInfo(path).absoluteFilePath();
    const QByteArray head = header(file);
    const bool wal = head.size() > 19 && head.at(18) == 2 && head.at(19) == 2;
    // Anyone who has a WAL file open keeps its -shm beside it; without one
    // (and without the folder to make it in) only the immutable form opens.
    const bool plain = !wal || QFileInfo::exists(file + QStringLiteral("-shm"))
        || canWrite(QFileInfo(file).absolutePath());
    // That form skips the -wal: commits still in it would go unread, so the
    // plain form is kept and fails to open instead.
    const bool unread = !plain && QFileInfo(file + QStringLiteral("-wal")).size() > 0;
    if (plain || unread) {
        if (unread && problem)
            *problem = QStringLiteral("%1 的最近写入还在 %1-wal 中，而文件夹不可写，无法读取；"
                                      "请用可写入该文件夹的帐户打开一次")
                           .arg(path);
        *options = FileConnection::busyTimeout() + QStringLiteral(";QSQLITE_OPEN_READONLY");
        return path;
    }
    *options = QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY");
    return QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=ro&immutable=1");
}
