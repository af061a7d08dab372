// The query dialog at work: its statements, the paging, the printout and the .xls and .xlsx exports.

#include "desktop/SqlSelect.h"
#include "core/time/TimeKey.h"
#include "ui_SqlSelect.h"

#include "core/time/Clock.h"
#include "core/DataBase.h"
#include "core/wear/ReadingSearch.h"
#include "core/wear/WearAttribution.h"
#include "core/export/XlsWorkbook.h"
#include "core/export/XlsxExport.h"
#include "core/export/OutputFile.h"
#include "desktop/ReadingTableModel.h"
#include "desktop/RegisterChoices.h"
#include "desktop/ReportPrompt.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QShowEvent>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>

#include <memory>

namespace {

SqlSelect::PrintSetup& printSetup()
{
    static SqlSelect::PrintSetup setup;
    return setup;
}

SqlSelect::SaveFileName& saveFileName()
{
    static SqlSelect::SaveFileName ask;
    return ask;
}

// One report line from the five result columns.
QString printLine(const QSqlQuery& row)
{
    return QStringLiteral("时间:") + row.value(0).toString() + QStringLiteral(";部门:") + row.value(2).toString()
        + QStringLiteral(";姓名:") + row.value(1).toString() + QStringLiteral(";设备号:")
        + row.value(3).toString() + QStringLiteral(";剂量值:") + row.value(4).toString();
}

} // namespace

void SqlSelect::setPrintSetup(PrintSetup setup)
{
    printSetup() = std::move(setup);
}

void SqlSelect::setSaveFileName(SaveFileName ask)
{
    saveFileName() = std::move(ask);
}

SqlSelect::SqlSelect(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(new Ui::SqlSelect)
    , database(database)
{
    ui->setupUi(this);

    connect(ui->btnSearch, &QPushButton::clicked, this, &SqlSelect::seachData);
    connect(ui->btnBefore, &QPushButton::clicked, this, &SqlSelect::slotBefore);
    connect(ui->btnNext, &QPushButton::clicked, this, &SqlSelect::slotNext);
    connect(ui->btnExcel, &QPushButton::clicked, this, &SqlSelect::setExcel);
    connect(ui->btnPrint, &QPushButton::clicked, this, &SqlSelect::doPrint);
    connect(ui->btnBack, &QPushButton::clicked, this, &SqlSelect::slotBack);

    if (database) {
        database->createConnection(connName);
        connection = database->getConnection(connName);
    }
}

SqlSelect::~SqlSelect()
{
    delete ui;
}

void SqlSelect::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!database)
        return;

    RegisterChoices::cards(ui->comboBox, database, connName, connection);
    ui->comboBox->setCurrentIndex(0);
    const QDateTime now = Clock::now();
    ui->de_start->setDateTime(now);
    // Readings of the future do not exist: the range ends by now at the latest.
    ui->de_start->setMaximumDateTime(now);
    ui->de_end->setMaximumDateTime(now);
    ui->de_end->setDateTime(now);
}

WearAttribution::Criteria SqlSelect::criteria() const
{
    WearAttribution::Criteria c;
    const QDateTime start = ui->de_start->dateTime();
    const QDateTime end = ui->de_end->dateTime();
    if (ui->cb_time->isChecked() && start.toMSecsSinceEpoch() <= end.toMSecsSinceEpoch()) {
        c.timed = true;
        if (ui->rb_day->isChecked()) {
            c.kind = WearAttribution::Hours;
            c.from = TimeKey::hourOf(start);
            c.to = TimeKey::hourOf(end);
        } else if (ui->rb_mon->isChecked()) {
            c.kind = WearAttribution::Days;
            c.from = start.toString(QStringLiteral("yyyyMMdd"));
            c.to = end.toString(QStringLiteral("yyyyMMdd"));
        } else if (ui->rb_year->isChecked()) {
            c.kind = WearAttribution::Months;
            c.from = start.toString(QStringLiteral("yyyyMM"));
            c.to = end.toString(QStringLiteral("yyyyMM"));
        } else {
            c.timed = false;
        }
    }
    c.byName = ui->cb_name->isChecked() && !ui->le_name->text().isEmpty();
    c.name = ui->le_name->text();
    c.byCard = ui->cb_cradid->isChecked();
    c.card = ui->comboBox->currentText();
    c.overlapping = overlapping;
    return c;
}

QString SqlSelect::buildQuery(QVariantList* values) const
{
    return ReadingSearch::presentBinding(criteria(), values);
}

QString SqlSelect::attributedQuery(QVariantList* values) const
{
    WearAttribution::Criteria c = criteria();
    // 天/月/年 applies with or without a time range: days and months
    // without one span every key there is.
    if (!c.timed && (ui->rb_mon->isChecked() || ui->rb_year->isChecked())) {
        const bool days = ui->rb_mon->isChecked();
        c.timed = true;
        c.kind = days ? WearAttribution::Days : WearAttribution::Months;
        c.from = days ? QStringLiteral("00000101") : QStringLiteral("000001");
        c.to = days ? QStringLiteral("99991231") : QStringLiteral("999912");
    }
    return WearAttribution::queryStatement(c, values);
}

int SqlSelect::countResult(const QString& query, const QVariantList& values)
{
    if (!database)
        return 0;
    std::unique_ptr<QSqlQueryModel> count(database->getQueryModel(ReadingSearch::count(query), values, connection));
    if (!connection.isOpen() || count->lastError().isValid() || count->rowCount() != 1)
        return -1;
    return count->data(count->index(0, 0)).toInt();
}

void SqlSelect::seachData()
{
    // Clearing a filled selector loads the page of offset 0 once more.
    ui->comboxPage->clear();
    ui->btnPrint->setEnabled(true);

    searchValues.clear();
    if (database) {
        database->openConnection(connName);
        overlapping = database->hasOverlappingPeriods(connection);
    }
    searchQuery = attributedQuery(&searchValues);
    qDebug() << "sql" << searchQuery + QStringLiteral(";") << searchValues;

    if (database) {
        totalRows = countResult(searchQuery, searchValues);
        database->closeConnection(connName);
    } else {
        totalRows = 0;
    }
    qDebug() << "row" << totalRows;
    if (totalRows < 0) {
        // A result that cannot be counted must not show as an empty one.
        totalRows = 0;
        pageCount = 0;
        ui->btnPrint->setEnabled(false);
        if (model)
            model->clear();
        QMessageBox::critical(this, tr("查询"), tr("读取数据失败，无法查询。"));
        return;
    }

    pageCount = totalRows / rowsPerPage + 1;
    QStringList pages;
    pages.reserve(pageCount);
    for (int p = 1; p <= pageCount; ++p)
        pages << QString::number(p);
    // The first item becomes current, and its handler shows page 1.
    ui->comboxPage->addItems(pages);
}

void SqlSelect::on_comboxPage_currentTextChanged(const QString& arg1)
{
    loadPage(arg1.toInt());
}

void SqlSelect::slotBefore()
{
    const int i = ui->comboxPage->currentIndex();
    if (i > 0) {
        loadPage(i);
        ui->comboxPage->setCurrentIndex(i - 1);
    }
}

void SqlSelect::slotNext()
{
    const int i = ui->comboxPage->currentIndex();
    if (i + 1 < pageCount) {
        loadPage(i + 2);
        ui->comboxPage->setCurrentIndex(i + 1);
    }
}

void SqlSelect::loadPage(int page)
{
    // Page 0 (an emptied selector) shows the first page.
    QVariantList values;
    const int offset = qMax(0, (page - 1) * rowsPerPage);
    const QString statement = ReadingSearch::page(connection, attributedQuery(&values), offset, rowsPerPage, totalRows);
    qDebug() << "sql" << statement << values;
    showStatement(statement, values);
}

void SqlSelect::showStatement(const QString& statement, const QVariantList& values)
{
    if (!database)
        return;
    database->openConnection(connName);
    auto* rows = new ReadingTableModel;
    database->fillQueryModel(*rows, statement, values, connection);
    setTableHeaders(rows);
    database->closeConnection(connName);
}

void SqlSelect::setTableHeaders(QSqlQueryModel* newModel)
{
    const char* const headers[] = {"时间", "姓名", "部门", "设备号", "剂量 (μSv)"};
    for (int c = 0; c < 5; ++c)
        newModel->setHeaderData(c, Qt::Horizontal, QString::fromUtf8(headers[c]), Qt::EditRole);
    // The rows must be in before the connection closes.
    while (newModel->canFetchMore())
        newModel->fetchMore();

    // The dialog owns the model on show; the one it replaces goes, with the
    // selection model the view made for it.
    newModel->setParent(this);
    QItemSelectionModel* oldSelection = ui->tableView->selectionModel();
    ui->tableView->setModel(newModel);
    delete oldSelection;
    delete model;
    model = newModel;

    ui->tableView->resizeColumnsToContents();
    ui->tableView->horizontalHeader()->setHighlightSections(false);
}

void SqlSelect::doPrint()
{
    QPrinter printer(QPrinter::HighResolution);
    if (printSetup()) {
        if (!printSetup()(printer, this))
            return;
    } else {
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
    }

    ReportPrompt::print(this, tr("打印"), printer, database ? database->filePath() : QString(),
                        [this](QPrinter& p, QString* why) { return printRows(p, why); });
}

bool SqlSelect::printRows(QPrinter& printer, QString* why)
{
    // An A4 page of 35 lines; the text starts two font widths in.
    const int w = int(printer.logicalDpiX() * 8.26771653543307);
    const int h = int(printer.logicalDpiY() * 11.69291338582677);
    const int lineHeight = h / 35;
    const int x = 2 * (w / 24);
    QFont font;
    font.setPixelSize((w / 24) / 2);

    QPainter painter;
    if (!painter.begin(&printer)) {
        *why = tr("无法开始打印");
        return false;
    }
    painter.setFont(font);
    const QRect viewport = painter.viewport();
    const int v = viewport.bottom() - viewport.top() + 1;

    bool read = true;
    if (database && !searchQuery.isEmpty()) {
        database->openConnection(connName);
        // Streamed row by row from the search's own statement: a forward-only
        // query keeps no more than the current row.
        QSqlQuery rows(connection);
        rows.setForwardOnly(true);
        read = rows.prepare(ReadingSearch::whole(connection, searchQuery));
        if (read) {
            for (const QVariant& value : qAsConst(searchValues))
                rows.addBindValue(value);
            read = rows.exec();
        }
        if (read) {
            int k = 3;
            bool pageFull = false;
            for (int i = 0; rows.next(); ++i) {
                // A new page only when there is a line to put on it.
                if (pageFull) {
                    printer.newPage();
                    k = 3;
                    pageFull = false;
                }
                const QString entry = printLine(rows);
                painter.drawText(x, k * lineHeight, QString::number(i + 1) + QStringLiteral(":") + entry);
                qDebug().noquote() << "printData[z]" << entry;
                ++k;
                if (k * lineHeight > v - 3 * lineHeight)
                    pageFull = true;
            }
        }
        // A statement that breaks off midway must not pass for a short list.
        if (rows.lastError().isValid()) {
            read = false;
            *why = tr("读取数据失败：%1").arg(rows.lastError().text());
        }
        rows = QSqlQuery();
        database->closeConnection(connName);
    }
    return painter.end() && read;
}

void SqlSelect::slotBack()
{
    close();
}

void SqlSelect::setExcel()
{
    const QString chosen = saveFileName()
        ? saveFileName()(this)
        : ReportPrompt::saveFileName(this, tr("导出数据"), tr("Excel 97-2003 工作簿 (*.xls);;Excel 工作簿 (*.xlsx)"),
                                     tr("数据查询-%1.xls").arg(Clock::now().toString(QStringLiteral("yyyy-MM-dd"))));
    OutputFile::Target target;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !ReportPrompt::target(this, tr("导出数据"), chosen, {OutputFile::Format::Xls, OutputFile::Format::Xlsx},
                                 database ? database->filePath() : QString(), &target, &format))
        return;

    QVariantList values;
    const QString query = attributedQuery(&values);
    qDebug() << "sql" << query + QStringLiteral(";") << values;
    int total = 0;
    if (database) {
        database->openConnection(connName);
        total = countResult(query, values);
        database->closeConnection(connName);
    }
    if (format == OutputFile::Format::Xlsx)
        exportXlsx(target, query, values, total);
    else
        exportXls(target, query, values, total);
}

void SqlSelect::exportXls(const OutputFile::Target& file, const QString& query, const QVariantList& values, int total)
{
    // The count only paces the progress: a count that failed must not pass
    // for an empty result, so the rows themselves decide.
    if (!database)
        return;
    total = qMax(total, 0);
    QProgressDialog progress(tr("正在导出数据..."), QString(), 0, total, this);
    progress.setWindowTitle(tr("导出数据"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);

    // Streamed from the search's own statement, like the printout: the table
    // keeps the page the user sees. Every sheet goes into one workbook, which
    // takes the chosen name only when all of them are complete.
    const QStringList headers{QStringLiteral("时间"), QStringLiteral("姓名"), QStringLiteral("部门"),
                              QStringLiteral("设备号"), QStringLiteral("剂量 (μSv)")};
    XlsWorkbook book;
    int exported = 0;
    QString why;
    bool done = false;
    database->openConnection(connName);
    {
        QSqlQuery rows(connection);
        rows.setForwardOnly(true);
        // A server gives rows in no fixed order unless told.
        bool ok = rows.prepare(ReadingSearch::whole(connection, query));
        for (const QVariant& value : values)
            rows.addBindValue(value);
        ok = ok && rows.exec();
        while (ok && rows.next()) {
            if (exported % rowsPerSheet == 0)
                ok = book.addSheet(QStringLiteral("mydata") + QString::number(exported / rowsPerSheet), headers, &why);
            QStringList cells;
            for (int c = 0; c < headers.size(); ++c)
                cells << rows.value(c).toString();
            ok = ok && book.appendRow(cells, &why);
            if (++exported % 10 == 0)
                progress.setValue(qMin(exported, total));
        }
        // A statement that breaks off midway must not pass for a short export.
        if (why.isEmpty() && rows.lastError().isValid()) {
            ok = false;
            why = tr("读取数据失败：%1").arg(rows.lastError().text());
        }
        progress.setValue(total);
        done = ok && exported > 0 && book.save(file, &why);
    }
    database->closeConnection(connName);
    progress.reset();
    qDebug() << "retVal" << exported << why;

    if (done) {
        QMessageBox::information(this, tr("导出数据"), tr("%1 条数据已导出到 %2").arg(exported).arg(file.path),
                                 QMessageBox::Ok);
    } else if (exported > 0 || !why.isEmpty()) {
        QMessageBox::critical(this, tr("导出数据"), tr("导出失败!") + QLatin1Char('\n') + why);
    }
}

void SqlSelect::exportXlsx(const OutputFile::Target& file, const QString& query, const QVariantList& values, int total)
{
    // Nothing found exports nothing; a count that failed lets the rows decide.
    if (!database || total == 0)
        return;
    total = qMax(total, 0);
    QProgressDialog progress(tr("正在导出数据..."), tr("取消"), 0, total, this);
    progress.setWindowTitle(tr("导出数据"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);

    XlsxExport exporter(file);
    connect(&exporter, &XlsxExport::exportedRowCount, &progress, &QProgressDialog::setValue);
    connect(&progress, &QProgressDialog::canceled, &exporter, &XlsxExport::cancel);

    // Streamed from the search's own statement, like the printout: the table
    // keeps the page the user sees.
    int exported = -1;
    QString reason;
    database->openConnection(connName);
    {
        QSqlQuery rows(connection);
        rows.setForwardOnly(true);
        if (rows.prepare(ReadingSearch::whole(connection, query))) {
            for (const QVariant& value : values)
                rows.addBindValue(value);
            if (rows.exec())
                exported = exporter.write(rows);
        }
        reason = exported < 0 && exporter.errorString().isEmpty() ? rows.lastError().text() : exporter.errorString();
    }
    database->closeConnection(connName);
    progress.reset();
    qDebug() << "retVal" << exported << reason;

    if (exported >= 0) {
        QMessageBox::information(this, tr("导出数据"), tr("%1 条数据已导出到 %2").arg(exported).arg(file.path),
                                 QMessageBox::Ok);
    } else if (exporter.wasCancelled()) {
        QMessageBox::information(this, tr("导出数据"), tr("导出已取消，未写入文件。"));
    } else {
        QMessageBox::critical(this, tr("导出数据"), tr("导出失败!") + QLatin1Char('\n') + reason);
    }
}
