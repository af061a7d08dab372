// The dose alerts listed with their person, level and figures, and the selected ones acknowledged with a comment.

#include "desktop/DoseAlerts.h"

#include <QMessageBox>
#include <QStandardItemModel>

#include "core/time/Clock.h"
#include "core/audit/AuditLog.h"
#include "core/store/Transaction.h"
#include "core/time/TimeKey.h"
#include "core/DataBase.h"
#include "core/dose/DoseLevel.h"
#include "ui_DoseAlerts.h"

namespace {

QString levelLabel(const QString& word)
{
    for (DoseLevel::Level l : {DoseLevel::Investigate, DoseLevel::Warning, DoseLevel::Limit}) {
        if (DoseLevel::word(l) == word)
            return DoseLevel::label(l);
    }
    return word;
}

} // namespace

DoseAlerts::DoseAlerts(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DoseAlerts>())
    , database(database)
{
    ui->setupUi(this);
    setModal(false);
    model = new QStandardItemModel(this);
    model->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("姓名"), QStringLiteral("部门"),
                                      QStringLiteral("级别"), QStringLiteral("周期"), QStringLiteral("剂量(μSv)"),
                                      QStringLiteral("阈值(μSv)"), QStringLiteral("确认人"),
                                      QStringLiteral("确认时间"), QStringLiteral("说明")});
    ui->tv_alerts->setModel(model);
    database->createConnection(connName);
    connect(ui->cb_unacked, &QCheckBox::toggled, this, &DoseAlerts::reload);
    connect(ui->btnAck, &QPushButton::clicked, this, &DoseAlerts::acknowledge);
    reload();
}

DoseAlerts::~DoseAlerts() = default;

int DoseAlerts::unacknowledged()
{
    database->openConnection(connName);
    QList<DoseAlertdata> alerts;
    const bool ok = database->selectAlerts(alerts, true, database->getConnection(connName));
    database->closeConnection(connName);
    return ok ? alerts.size() : -1;
}

void DoseAlerts::reload()
{
    model->removeRows(0, model->rowCount());
    database->openConnection(connName);
    QSqlDatabase db = database->getConnection(connName);
    QList<DoseAlertdata> alerts;
    database->selectAlerts(alerts, ui->cb_unacked->isChecked(), db);
    for (const DoseAlertdata& a : qAsConst(alerts)) {
        Staffdata person;
        database->selectStaffByIdCard(person, a.ID_card, db);
        QList<QStandardItem*> row;
        for (const QString& text : {TimeKey::shown(a.raisedAt), person.name, person.department, levelLabel(a.level),
                                    a.periodKey, QString::number(a.dose, 'f', 2), QString::number(a.threshold, 'f', 2),
                                    a.ackBy, TimeKey::shown(a.ackAt), a.comment})
            row << new QStandardItem(text);
        row.first()->setData(a.id, Qt::UserRole);
        model->appendRow(row);
    }
    database->closeConnection(connName);
    ui->tv_alerts->resizeColumnsToContents();
}

void DoseAlerts::acknowledge()
{
    const QModelIndexList rows = ui->tv_alerts->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const QString comment = ui->le_comment->text().trimmed();
    if (comment.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("请填写说明!"));
        return;
    }
    const QString at = TimeKey::of(Clock::now());
    database->openConnection(connName);
    QSqlDatabase db = database->getConnection(connName);
    for (const QModelIndex& index : rows)
        database->acknowledgeAlert(model->item(index.row(), 0)->data(Qt::UserRole).toInt(), at, Transaction::actor(), comment,
                                   db);
    database->closeConnection(connName);
    ui->le_comment->clear();
    reload();
}
