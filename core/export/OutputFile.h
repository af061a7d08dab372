#pragma once

// The one way the program writes a file people keep (reports, records,
// exports, backups), and the rules for where it may write one: never over
// the register or another SQLite file, over an existing file only when that
// was confirmed, and always under the ending of its format. The file takes
// its name only once it is complete; a failed run leaves nothing behind.

#include <QList>
#include <QString>

#include <functional>

class QIODevice;

class OutputFile
{
public:
    enum class Format { Pdf, Xlsx, Xls, Backup };

    struct Target
    {
        QString path;
        // An existing file may be replaced: --force, or the save dialog asked.
        bool replace = false;
        // The register's own file, empty when it is kept on a server.
        QString database;
    };

    // "pdf", "xlsx", "xls", "db".
    static QString ending(Format format);
    // Empty when path ends in format's ending (in any case), else why not.
    static QString endingProblem(const QString& path, Format format);
    // Why target must not be written as format; empty when it may.
    static QString refusal(const Target& target, Format format);

    // A name chosen in a save dialog as a file of one of formats. One without
    // an ending gets the first format's, and is then not put over an existing
    // file: the dialog asked about the name without it. Returns why it is
    // refused, empty when target and format are set to go.
    static QString fromDialog(const QString& chosen, const QList<Format>& formats, const QString& database,
                              Target* target, Format* format);

    // Writes into a QSaveFile over the target: produce gets the open device.
    using Stream = std::function<bool(QIODevice& file, QString* why)>;
    static bool save(const Target& target, Format format, const Stream& produce, QString* why);

    // For writers that need a path of their own: produce fills a temporary
    // file beside the target (hidden, with the same ending), which is synced
    // and renamed to the target only when produce succeeded.
    using Produce = std::function<bool(const QString& temporaryPath, QString* why)>;
    static bool write(const Target& target, Format format, const Produce& produce, QString* why);

    // The program's mark on its backups: the SQLite header's application_id
    // (4 bytes at offset 68, big-endian) is "DOSE". A register never has it.
    static constexpr quint32 kBackupMark = 0x444F5345;
    static bool isBackup(const QString& path);
};
