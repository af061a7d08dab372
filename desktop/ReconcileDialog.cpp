// The 剂量比对 dialog: the reconciliation of a period and department in a table, flagged rows first, and a flag closed.

#include "desktop/ReconcileDialog.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/DataBase.h"
#include "core/dose/DosePolicy.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"
#include "desktop/DoseOverview.h"

namespace {

QString figure(qint64 cents)
{
    return QString::number(cents / 100.0, 'f', 2);
}

} // namespace

ReconcileDialog::ReconcileDialog(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , database(database)
{
    setWindowTitle(QStringLiteral("剂量比对"));
    setObjectName(QStringLiteral("ReconcileDialog"));
    const QDate today = Clock::now().date();
    from = new QDateEdit(QDate(today.year(), 1, 1), this);
    from->setObjectName(QStringLiteral("de_from"));
    to = new QDateEdit(today, this);
    to->setObjectName(QStringLiteral("de_to"));
    for (QDateEdit* edit : {from, to}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
    }
    department = new QComboBox(this);
    department->setObjectName(QStringLiteral("cb_depart"));
    department->addItem(QStringLiteral("全部"));
    queryButton = new QPushButton(QStringLiteral("查询"), this);
    queryButton->setObjectName(QStringLiteral("btnQuery"));

    auto* filter = new QHBoxLayout;
    filter->addWidget(new QLabel(QStringLiteral("从"), this));
    filter->addWidget(from);
    filter->addWidget(new QLabel(QStringLiteral("到"), this));
    filter->addWidget(to);
    filter->addWidget(new QLabel(QStringLiteral("部门"), this));
    filter->addWidget(department, 1);
    filter->addWidget(queryButton);

    table = new QTableWidget(0, 11, this);
    table->setObjectName(QStringLiteral("tw_results"));
    table->setHorizontalHeaderLabels({QStringLiteral("身份证号"), QStringLiteral("姓名"), QStringLiteral("部门"),
                                      QStringLiteral("开始"), QStringLiteral("结束"), QStringLiteral("个人剂量计(μSv)"),
                                      QStringLiteral("备注"), QStringLiteral("电子剂量计(μSv)"),
                                      QStringLiteral("差值(μSv)"), QStringLiteral("差值(%)"), QStringLiteral("结果")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->resizeColumnsToContents();

    summary = new QLabel(this);
    summary->setObjectName(QStringLiteral("lb_summary"));
    summary->setText(QStringLiteral("选择期间和部门后按“查询”"));
    comment = new QLineEdit(this);
    comment->setObjectName(QStringLiteral("le_comment"));
    comment->setPlaceholderText(QStringLiteral("关闭标记的说明 (必填)"));
    closeButton = new QPushButton(QStringLiteral("关闭标记"), this);
    closeButton->setObjectName(QStringLiteral("btnCloseFlag"));
    auto* closing = new QHBoxLayout;
    closing->addWidget(new QLabel(QStringLiteral("说明"), this));
    closing->addWidget(comment, 1);
    closing->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filter);
    layout->addWidget(table, 1);
    layout->addWidget(summary);
    layout->addLayout(closing);
    resize(1100, 560);

    database->createConnection(connName);
    connect(queryButton, &QPushButton::clicked, this, &ReconcileDialog::query);
    connect(closeButton, &QPushButton::clicked, this, &ReconcileDialog::closeFlag);
}

ReconcileDialog::~ReconcileDialog() = default;

void ReconcileDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    DoseOverview::listDepartments(department, database, connName);
}

void ReconcileDialog::query()
{
    rows.clear();
    table->setRowCount(0);
    const QString only = department->currentIndex() > 0 ? department->currentText() : QString();
    if (to->date() < from->date()) {
        summary->setText(QStringLiteral("结束日期早于开始日期"));
        QMessageBox::warning(this, windowTitle(), QStringLiteral("结束日期早于开始日期"));
        return;
    }
    QString why;
    database->openConnection(connName);
    QSqlDatabase db = database->getConnection(connName);
    bool readable = false;
    const DosePolicy policy = db.isOpen() ? DosePolicy::load(*database, db, &readable) : DosePolicy();
    bool done = false;
    if (!readable)
        why = QStringLiteral("无法读取剂量限值");
    else
        done = Reconciliation(*database, db, policy).run(from->date(), to->date(), only, rows, &why);
    db = QSqlDatabase();
    database->closeConnection(connName);
    if (!done) {
        rows.clear();
        summary->setText(QStringLiteral("读取失败: ") + why);
        QMessageBox::critical(this, windowTitle(), QStringLiteral("无法比对: ") + why);
        return;
    }

    table->setRowCount(rows.size());
    int flagged = 0;
    for (int r = 0; r < rows.size(); ++r) {
        const Reconciliation::Row& row = rows[r];
        const QStringList csv = Reconciliation::fields(row);
        QStringList notes;
        if (row.result.code == QLatin1String("M"))
            notes << QStringLiteral("M (低于最低可报告剂量)");
        else if (row.result.code == QLatin1String("not_returned"))
            notes << QStringLiteral("剂量计未返回");
        else if (row.result.code == QLatin1String("unused"))
            notes << QStringLiteral("剂量计未使用");
        else if (!row.hasPassive)
            notes << QStringLiteral("没有 Hp(10)");
        if (row.closed())
            notes << QStringLiteral("%1 由 %2 关闭: %3").arg(row.result.closedAt, row.result.closedBy, row.result.closeComment);
        const QStringList cells{row.result.ID_card, row.result.name, row.department, csv[3], csv[4],
                                row.hasPassive ? figure(row.passiveCents) : QStringLiteral("—"),
                                notes.join(QStringLiteral("; ")),
                                figure(row.electronicCents),
                                row.hasDifference() ? figure(row.differenceCents()) : QStringLiteral("—"),
                                row.hasPercent() ? QString::number(row.percent(), 'f', 2) : QStringLiteral("—"),
                                Reconciliation::resultText(row)};
        const bool open = row.flagged() && !row.closed();
        if (row.flagged())
            ++flagged;
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c >= 5 && c != 6 && c != 10)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (open) {
                item->setBackground(QColor(255, 214, 214));
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            } else if (row.flagged()) {
                item->setBackground(QColor(235, 235, 235));
            }
            if (c == 0)
                item->setData(Qt::UserRole, row.result.id);
            table->setItem(r, c, item);
        }
    }
    table->resizeColumnsToContents();
    summary->setText(rows.isEmpty() ? QStringLiteral("该期间没有个人剂量计结果")
                                    : QStringLiteral("共 %1 条结果, 其中 %2 条有标记").arg(rows.size()).arg(flagged));
}

void ReconcileDialog::closeFlag()
{
    const int r = table->currentRow();
    if (r < 0 || r >= rows.size() || !table->item(r, 0) || !table->item(r, 0)->isSelected()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("请选择一条有标记的结果"));
        return;
    }
    const Reconciliation::Row& row = rows[r];
    if (!row.flagged()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("该结果与电子剂量一致, 没有标记可关闭"));
        return;
    }
    if (comment->text().trimmed().isEmpty()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("请填写说明!"));
        return;
    }
    QString why;
    database->openConnection(connName);
    QSqlDatabase db = database->getConnection(connName);
    bool readable = false;
    const DosePolicy policy = db.isOpen() ? DosePolicy::load(*database, db, &readable) : DosePolicy();
    const bool closed = readable
        && Reconciliation(*database, db, policy).close(row.result.id, comment->text(), Transaction::actor(), &why);
    if (!readable)
        why = QStringLiteral("无法读取剂量限值");
    db = QSqlDatabase();
    database->closeConnection(connName);
    if (!closed) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("无法关闭标记: ") + why);
        return;
    }
    comment->clear();
    emit flagsChanged();
    query();
}
