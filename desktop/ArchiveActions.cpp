// Backup and restore of the file store from the main window.
#include "desktop/ArchiveActions.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

#include "core/DataBase.h"
#include "core/backup/DatabaseBackup.h"
#include "core/export/OutputFile.h"
#include "core/log/QsLog.h"
#include "core/time/Clock.h"
#include "desktop/ReportPrompt.h"

namespace {

ArchiveActions::FileName& fileName()
{
    static ArchiveActions::FileName ask;
    return ask;
}

} // namespace

void ArchiveActions::setFileName(FileName ask)
{
    fileName() = std::move(ask);
}

ArchiveActions::ArchiveActions(QWidget* window, DataBase* database)
    : window(window)
    , database(database)
{
}

ArchiveActions::~ArchiveActions()
{
    if (backupThread) {
        backupThread->wait();
        delete backupThread;
    }
}

void ArchiveActions::startAutomatic()
{
    // A shared store is the server's to back up.
    if (automaticRunning() || database->isShared() || !database->isOpen())
        return;
    delete backupThread;
    const QString path = database->filePath();
    const QDateTime now = Clock::now();
    backupThread = QThread::create([this, path, now] {
        BackupReport report;
        QString reason;
        const bool ok = DatabaseBackup::automatic(path, now, &report, &reason);
        emit automaticDone(ok, ok ? report.path : reason);
    });
    backupThread->start();
}

bool ArchiveActions::automaticRunning() const
{
    return backupThread && !backupThread->isFinished();
}

bool ArchiveActions::storeIsFile(const QString& title)
{
    if (database->isShared()) {
        QMessageBox::information(window, title,
                                 QStringLiteral("共享数据库 (PostgreSQL) 由服务器备份和恢复 (pg_dump、pg_restore)。"));
        return false;
    }
    if (!database->isOpen()) {
        QMessageBox::warning(window, title, QStringLiteral("数据库未打开。"));
        return false;
    }
    return true;
}

void ArchiveActions::backupNow()
{
    const QString title = QStringLiteral("备份数据库");
    if (!storeIsFile(title))
        return;
    const QString suggested = QDir(DatabaseBackup::folder(database->filePath()))
                                  .filePath(DatabaseBackup::automaticName(Clock::now()));
    // The save dialog has asked whether to replace an existing file.
    const QString chosen = fileName() ? fileName()(window, title)
                                      : ReportPrompt::saveFileName(window, title, QStringLiteral("数据库 (*.db)"), suggested);
    OutputFile::Target target;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !ReportPrompt::target(window, title, chosen, {OutputFile::Format::Backup}, database->filePath(), &target,
                                 &format))
        return;
    BackupReport report;
    QString reason;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = DatabaseBackup::backup(database->filePath(), target.path, target.replace, &report, &reason);
    QApplication::restoreOverrideCursor();
    if (ok)
        QMessageBox::information(window, title, QStringLiteral("数据库已备份到 %1\n%2").arg(report.path, DatabaseBackup::shown(report)));
    else
        QMessageBox::warning(window, title, QStringLiteral("备份失败: ") + reason);
}

bool ArchiveActions::restoreNow(bool collecting)
{
    const QString title = QStringLiteral("恢复数据库");
    if (!storeIsFile(title))
        return false;
    if (collecting) {
        QMessageBox::warning(window, title, QStringLiteral("请先停止采集, 再恢复数据库。"));
        return false;
    }
    const QString path = fileName() ? fileName()(window, title)
                                    : QFileDialog::getOpenFileName(window, title, DatabaseBackup::folder(database->filePath()),
                                                                   QStringLiteral("数据库 (*.db);;所有文件 (*)"));
    if (path.isEmpty())
        return false;
    QString reason;
    if (!DatabaseBackup::restorable(path, &reason)) {
        QMessageBox::warning(window, title, QStringLiteral("不能用这个文件恢复: ") + reason);
        return false;
    }
    if (QMessageBox::question(window, title,
                              QStringLiteral("用 %1 替换当前数据库吗?\n当前数据库会保留为 database.db.before-restore-…").arg(path))
        != QMessageBox::Yes)
        return false;
    // The start-up backup reads the file through a connection of its own.
    if (backupThread)
        backupThread->wait();
    const bool ok = DatabaseBackup::restore(path, database->filePath(), Clock::now(), &kept, &reason,
                                            [this](const std::function<bool()>& replace) {
                                                return database->withFileReleased(replace);
                                            });
    if (!ok) {
        QMessageBox::warning(window, title, QStringLiteral("恢复失败: ") + reason);
        return false;
    }
    QLOG_INFO() << "database restored from" << path << "; the former one kept as" << kept;
    // A copy from an older version gains the tables added since.
    database->createTables();
    database->createAddedTables();
    return true;
}

void ArchiveActions::confirmRestore()
{
    QMessageBox::information(window, QStringLiteral("恢复数据库"), QStringLiteral("数据库已恢复。原数据库保留为 %1").arg(kept));
}
