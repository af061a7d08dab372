#pragma once

// The file and printer questions of the reports, and the personal dose record as the desktop opens it.

#include <QString>

#include <functional>

#include "core/export/OutputFile.h"

class DataBase;
class QPrinter;
class QWidget;

// Where the reports ask the operator for a file name and a printer, and the
// personal dose record as the person panel and 人员信息设置 open it. Tests
// replace the two questions so that no file or print dialog ever waits.
class ReportPrompt
{
public:
    // Returns the chosen path, empty when cancelled.
    using SaveFileName = std::function<QString(QWidget* parent, const QString& filter)>;
    // Sets the printer up; false when cancelled.
    using PrintDialog = std::function<bool(QPrinter* printer, QWidget* parent)>;
    static void setSaveFileName(SaveFileName ask); // empty: the file dialog
    static void setPrintDialog(PrintDialog ask);   // empty: QPrintDialog

    // The save dialog adds the chosen type's ending to a name typed without
    // one, then asks before replacing a file of that name. A suggested bare
    // name is offered in startFolder(); an absolute path as it is.
    static QString saveFileName(QWidget* parent, const QString& title, const QString& filter,
                                const QString& suggested = QString());
    // Where save dialogs start: the folder last saved into, else the
    // documents folder, else home; never the program's own folder.
    static QString startFolder();
    // The name chosen in a save dialog as a file of one of formats beside the
    // register at database; false after a message box saying why not.
    static bool target(QWidget* parent, const QString& title, const QString& chosen,
                       const QList<OutputFile::Format>& formats, const QString& database, OutputFile::Target* target,
                       OutputFile::Format* format);
    static bool askPrinter(QPrinter* printer, QWidget* parent);
    // Paints onto the printer or, when the print dialog chose a file, writes
    // that file as every output is written: never over the register or a
    // database, complete or not at all. False after a box saying why.
    using Paint = std::function<bool(QPrinter& printer, QString* why)>;
    static bool print(QWidget* parent, const QString& title, QPrinter& printer, const QString& database,
                      const Paint& paint);

    // Asks for a .pdf or .xlsx name and writes the person's record (every
    // year from the first with readings to this one) there; says how it went.
    static void personRecord(QWidget* parent, DataBase* database, const QString& idCard);
};
