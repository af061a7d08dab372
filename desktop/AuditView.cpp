// The audit trail's rows listed by time range, action and text; the last month when it opens.

#include "desktop/AuditView.h"

#include <QShowEvent>
#include <QStandardItemModel>

#include "core/time/Clock.h"
#include "core/DataBase.h"
#include "core/audit/AuditWords.h"
#include "ui_AuditView.h"

AuditView::AuditView(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AuditView>())
    , database(database)
{
    ui->setupUi(this);
    model = new QStandardItemModel(this);
    model->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("操作人"), QStringLiteral("操作"),
                                      QStringLiteral("表"), QStringLiteral("记录"), QStringLiteral("详情")});
    ui->tv_log->setModel(model);
    ui->cb_action->addItem(QStringLiteral("全部"));
    for (const QString& word : AuditWords::actions())
        ui->cb_action->addItem(AuditWords::action(word), word);
    database->createConnection(connName);
    connect(ui->de_from, &QDateEdit::dateChanged, this, &AuditView::reload);
    connect(ui->de_to, &QDateEdit::dateChanged, this, &AuditView::reload);
    connect(ui->cb_action, &QComboBox::currentTextChanged, this, &AuditView::reload);
    connect(ui->le_filter, &QLineEdit::textChanged, this, &AuditView::reload);
}

AuditView::~AuditView() = default;

void AuditView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    // Each time it opens: the last month, up to today.
    {
        const QSignalBlocker from(ui->de_from), to(ui->de_to);
        ui->de_to->setDate(Clock::now().date());
        ui->de_from->setDate(Clock::now().date().addMonths(-1));
    }
    reload();
}

void AuditView::reload()
{
    model->removeRows(0, model->rowCount());
    QList<QStringList> rows;
    database->openConnection(connName);
    const bool ok = database->selectAuditLog(
        rows, ui->de_from->date().toString(QStringLiteral("yyyy-MM-dd")),
        ui->de_to->date().addDays(1).toString(QStringLiteral("yyyy-MM-dd")),
        ui->cb_action->currentIndex() > 0 ? ui->cb_action->currentData().toString() : QString(), ui->le_filter->text(),
        database->getConnection(connName));
    database->closeConnection(connName);
    if (!ok)
        return;
    for (const QStringList& row : qAsConst(rows)) {
        QList<QStandardItem*> items;
        // Stored in the words it was written with, shown in Chinese.
        for (int c = 0; c < row.size(); ++c) {
            const QString& cell = row.at(c);
            items << new QStandardItem(c == 2   ? AuditWords::action(cell)
                                       : c == 3 ? AuditWords::table(cell)
                                       : c == 5 ? AuditWords::detail(cell)
                                                : cell);
        }
        model->appendRow(items);
    }
    ui->tv_log->resizeColumnsToContents();
}
