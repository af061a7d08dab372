// The overview's table filled by department and day, and exported to a workbook as it is shown.

#include "desktop/DoseOverview.h"

#include <QMessageBox>
#include <QShowEvent>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStandardItemModel>

#include "core/time/Clock.h"
#include "core/DataBase.h"
#include "core/dose/DoseStatus.h"
#include "core/export/OutputFile.h"
#include "core/export/XlsWorkbook.h"
#include "desktop/ReportPrompt.h"
#include "ui_DoseOverview.h"

namespace {

DoseOverview::SaveFileName& saveFileName()
{
    static DoseOverview::SaveFileName ask;
    return ask;
}

QStandardItem* cell(const QString& text, const QVariant& sortKey)
{
    auto* item = new QStandardItem(text);
    item->setData(sortKey, Qt::UserRole);
    return item;
}

QStandardItem* dose(double value)
{
    return cell(QString::number(value, 'f', 2), value);
}

} // namespace

void DoseOverview::setSaveFileName(SaveFileName ask)
{
    saveFileName() = std::move(ask);
}

const QStringList& DoseOverview::columns()
{
    static const QStringList names{"ID_card", "name", "department", "type", "quarter_uSv", "year_uSv", "last12_uSv",
                                   "five_year_uSv", "level", "adjusted"};
    return names;
}

DoseOverview::DoseOverview(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DoseOverview>())
    , database(database)
{
    ui->setupUi(this);
    model = new QStandardItemModel(this);
    model->setSortRole(Qt::UserRole);
    model->setHorizontalHeaderLabels(columns());
    ui->tv_overview->setModel(model);
    ui->de_date->setDate(Clock::now().date());
    database->createConnection(connName);
    connect(ui->cb_depart, &QComboBox::currentTextChanged, this, &DoseOverview::reload);
    connect(ui->de_date, &QDateEdit::dateChanged, this, &DoseOverview::reload);
    connect(ui->btnExport, &QPushButton::clicked, this, &DoseOverview::exportWorkbook);
}

DoseOverview::~DoseOverview() = default;

void DoseOverview::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    listDepartments(ui->cb_depart, database, connName);
    reload();
}

void DoseOverview::listDepartments(QComboBox* box, DataBase* database, const QString& connName)
{
    // The departments may have changed since the last time; the choice stays.
    const QString chosen = box->currentText();
    database->openConnection(connName);
    QList<Departdata> departments;
    database->selectAllDepartments(departments, database->getConnection(connName));
    database->closeConnection(connName);
    const QSignalBlocker block(box);
    box->clear();
    box->addItem(QStringLiteral("全部"));
    for (const Departdata& d : qAsConst(departments)) {
        if (box->findText(d.department) < 0)
            box->addItem(d.department);
    }
    box->setCurrentIndex(qMax(0, box->findText(chosen)));
}

void DoseOverview::reload()
{
    model->removeRows(0, model->rowCount());
    const QString department = ui->cb_depart->currentIndex() > 0 ? ui->cb_depart->currentText() : QString();
    QList<PersonStatus> rows;
    database->openConnection(connName);
    QSqlDatabase db = database->getConnection(connName);
    const bool ok = db.isOpen()
        && DoseStatus(*database, db).evaluate(rows, QDateTime(ui->de_date->date(), QTime(23, 0)), department);
    const QString why = db.lastError().text();
    database->closeConnection(connName);
    readable = ok;
    if (!ok) {
        // An empty table would read as "nobody has a dose".
        QMessageBox::critical(this, windowTitle(), QStringLiteral("剂量读取失败, 无法显示总览: %1").arg(why));
        return;
    }
    for (const PersonStatus& p : qAsConst(rows)) {
        model->appendRow({cell(p.ID_card, p.ID_card), cell(p.name, p.name), cell(p.department, p.department),
                          cell(p.ptype == 0 ? QStringLiteral("职业") : QStringLiteral("非职业"), p.ptype == 0),
                          dose(p.figures.quarter), dose(p.figures.year), dose(p.figures.last12),
                          dose(p.figures.fiveYear),
                          cell(DoseLevel::word(p.verdict.level), int(p.verdict.level)),
                          cell(p.figures.adjusted.join(QLatin1Char(';')), p.figures.adjusted.join(QLatin1Char(';')))});
    }
    ui->tv_overview->resizeColumnsToContents();
}

void DoseOverview::exportWorkbook()
{
    // An empty table that could not be read would export as "nobody has a dose".
    if (!readable) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("剂量读取失败, 无法导出总览"));
        return;
    }
    const QString chosen = saveFileName() ? saveFileName()(this)
                                          : ReportPrompt::saveFileName(this, windowTitle(), QStringLiteral("Excel Files (*.xls)"));
    OutputFile::Target target;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !ReportPrompt::target(this, windowTitle(), chosen, {OutputFile::Format::Xls}, database->filePath(), &target,
                                 &format))
        return;
    // The table as shown, in its order, every cell as its text.
    XlsWorkbook book;
    QString why;
    bool done = book.addSheet(QStringLiteral("mydata0"), columns(), &why);
    for (int r = 0; done && r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < columns().size(); ++c)
            cells << model->index(r, c).data().toString();
        done = book.appendRow(cells, &why);
    }
    done = done && book.save(target, &why);
    const int written = model->rowCount();
    if (done)
        QMessageBox::information(this, windowTitle(), QStringLiteral("%1 条数据已经导出到Excel").arg(written));
    else
        QMessageBox::critical(this, windowTitle(), QStringLiteral("导出失败!") + (why.isEmpty() ? QString() : QLatin1Char('\n') + why));
}
