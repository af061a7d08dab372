#pragma once

// The data query dialog: readings by time, name and ID card, a page at a time, printed and exported.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <functional>

#include "core/export/OutputFile.h"
#include "core/wear/WearAttribution.h"

class DataBase;
class QPrinter;
class QShowEvent;
class QSqlQueryModel;

namespace Ui {
class SqlSelect;
}

// The data query dialog: readings joined with the person and the device,
// filtered by time range, name and ID card, ten rows a page; prints the
// result and exports it to an .xls or .xlsx workbook. Only one page of rows is ever
// held: the row count comes from a count query, the printed lines are
// streamed from the search's statement.
class SqlSelect : public QDialog
{
    Q_OBJECT

public:
    // Where the printer and the workbook path come from. Empty (the default)
    // asks the user with the print dialog and the save-file dialog; a test
    // prints to a PDF file or names the workbook itself. The printer seam
    // returns whether to print.
    using PrintSetup = std::function<bool(QPrinter& printer, QWidget* parent)>;
    using SaveFileName = std::function<QString(QWidget* parent)>;
    static void setPrintSetup(PrintSetup setup);
    static void setSaveFileName(SaveFileName ask);

    SqlSelect(QWidget* parent, DataBase* database);
    ~SqlSelect() override;

    // The statement of the criteria now in the widgets, without limit and
    // terminator. The typed filters are "?" placeholders; their values are
    // appended to values in placeholder order.
    // It joins the readings to the staff through the register's present
    // binding, as the criteria read; the dialog runs attributedQuery().
    QString buildQuery(QVariantList* values = nullptr) const;
    // The statement the dialog runs for the same criteria: each reading
    // joined to the person who wore the dosimeter at its hour (wear
    // periods), day and month totals split where a period cuts them.
    QString attributedQuery(QVariantList* values = nullptr) const;

    static constexpr int rowsPerPage = 10;
    static constexpr int rowsPerSheet = 50000;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void seachData();
    void on_comboxPage_currentTextChanged(const QString& arg1);
    void slotBefore();
    void slotNext();
    void setExcel();
    void doPrint();
    void slotBack();

private:
    // The criteria now in the widgets.
    WearAttribution::Criteria criteria() const;
    void setTableHeaders(QSqlQueryModel* newModel);
    // Runs a statement into a new model and shows it in place of the last one.
    void showStatement(const QString& statement, const QVariantList& values);
    void loadPage(int page);
    // Rows of query, -1 when they cannot be counted; runs between
    // openConnection and closeConnection.
    int countResult(const QString& query, const QVariantList& values);
    // The whole result into an .xls workbook, sheets of rowsPerSheet rows.
    void exportXls(const OutputFile::Target& file, const QString& query, const QVariantList& values, int total);
    // The whole result into an .xlsx workbook, with a progress dialog that
    // can cancel it.
    void exportXlsx(const OutputFile::Target& file, const QString& query, const QVariantList& values, int total);
    // Every line of the last search onto printer; false and why when it
    // could not be painted or read.
    bool printRows(QPrinter& printer, QString* why);

    Ui::SqlSelect* ui = nullptr;
    DataBase* database = nullptr;
    int totalRows = 0;
    int pageCount = 0;
    QSqlQueryModel* model = nullptr;
    // The database has overlapping wear periods (checked on each search).
    bool overlapping = false;
    QSqlDatabase connection;
    QString connName = QStringLiteral("sqlselect_db");

    // The last search, printed line for line when printing.
    QString searchQuery;
    QVariantList searchValues;
};
