#pragma once

#include <QString>

#include <functional>

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

    static QString saveFileName(QWidget* parent, const QString& title, const QString& filter);
    static bool askPrinter(QPrinter* printer, QWidget* parent);

    // Asks for a .pdf or .xlsx name and writes the person's record (every
    // year from the first with readings to this one) there; says how it went.
    static void personRecord(QWidget* parent, DataBase* database, const QString& idCard);
};
