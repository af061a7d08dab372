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
#include "core/export/ReportWorkbook.h"
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

DoseOverview::DoseOverview(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DoseOverview>())
    , database(database)
{
    ui->setupUi(this);
    model = new QStandardItemModel(this);
    model->setSortRole(Qt::UserRole);
    model->setHorizontalHeaderLabels(ReportWorkbook::overviewColumns());
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
    shown.clear();
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
                          cell(DoseLevel::label(p.verdict.level), int(p.verdict.level)),
                          cell(p.figures.adjustedText(), p.figures.adjustedText())});
        shown.insert(p.ID_card, p);
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
    const QDate date = ui->de_date->date();
    const QString chosen = saveFileName()
        ? saveFileName()(this)
        : ReportPrompt::saveFileName(this, windowTitle(), QStringLiteral("Excel 工作簿 (*.xlsx)"),
                                     QStringLiteral("剂量概览-%1.xlsx").arg(date.toString(QStringLiteral("yyyy-MM-dd"))));
    OutputFile::Target target;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !ReportPrompt::target(this, windowTitle(), chosen, {OutputFile::Format::Xlsx}, database->filePath(), &target,
                                 &format))
        return;
    // The table as shown, in its order.
    QList<PersonStatus> rows;
    for (int r = 0; r < model->rowCount(); ++r)
        rows << shown.value(model->index(r, 0).data().toString());
    QString why;
    if (ReportWorkbook::write(rows, date, target, &why))
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("%1 人的剂量已导出到 %2").arg(rows.size()).arg(target.path));
    else
        QMessageBox::critical(this, windowTitle(), QStringLiteral("导出失败：") + why);
}
