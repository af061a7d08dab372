#pragma once

// 备份数据库 and 恢复数据库 of the main window, and the start-up backup on a
// thread of its own.

#include <QObject>
#include <QString>

#include <functional>

class DataBase;
class QThread;
class QWidget;

// Backup and restore work on the SQLite file only; a shared store is the
// server's to back up, and the officer is told so.
class ArchiveActions : public QObject
{
    Q_OBJECT

public:
    // Where the backup and restore files come from; empty asks with the file
    // dialogs. title is the dialog's ("备份数据库" or "恢复数据库").
    using FileName = std::function<QString(QWidget* parent, const QString& title)>;
    static void setFileName(FileName ask);

    // window parents the dialogs.
    ArchiveActions(QWidget* window, DataBase* database);
    // Waits for the start-up backup.
    ~ArchiveActions() override;

    // The start-up backup, written by a thread of its own so that a large
    // database does not hold up the window; automaticDone reports it.
    void startAutomatic();
    bool automaticRunning() const;

    void backupNow();
    // Asks for a backup file and replaces the database with it, keeping the
    // former one; collecting refuses while readings are being collected.
    // True when the database was replaced: the caller shows it anew, then
    // calls confirmRestore().
    bool restoreNow(bool collecting);
    void confirmRestore();

signals:
    // ok, and the new backup's path (empty when none was due) or the reason.
    void automaticDone(bool ok, const QString& text);

private:
    // False, with a word to the officer, when the store is no file of ours.
    bool storeIsFile(const QString& title);

    QWidget* window = nullptr;
    DataBase* database = nullptr;
    QThread* backupThread = nullptr;
    // The file the former database was kept as by the last restore.
    QString kept;
};
