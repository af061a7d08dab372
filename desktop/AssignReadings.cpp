// Giving whole hours of a dosimeter's readings nobody wore to a person, as a closed wear period.

#include "desktop/AssignReadings.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSqlQueryModel>

#include "core/time/Clock.h"
#include "core/DataBase.h"
#include "core/time/TimeKey.h"
#include "core/wear/WearAttribution.h"
#include "desktop/RegisterChoices.h"
#include "ui_AssignReadings.h"

AssignReadings::AssignReadings(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AssignReadings>())
    , database(database)
{
    ui->setupUi(this);
    connect(ui->btnOk, &QPushButton::clicked, this, &AssignReadings::assign);
    connect(ui->btnQuit, &QPushButton::clicked, this, &AssignReadings::reject);
    database->createConnection(connName);
    db = database->getConnection(connName);
}

AssignReadings::~AssignReadings() = default;

void AssignReadings::prepareAndShow(int address)
{
    slaveId = address;
    ui->lb_device->setText(QString::number(address));
    if (!RegisterChoices::cards(ui->cb_card, database, connName, db))
        return;
    const QDateTime hour = TimeKey::parse(WearAttribution::nowKey());
    // A period cannot start or end in hours not yet come.
    ui->dt_from->setMaximumDateTime(hour);
    ui->dt_to->setMaximumDateTime(hour);
    ui->dt_from->setDateTime(hour.addDays(-1));
    ui->dt_to->setDateTime(hour);
    exec();
}

void AssignReadings::assign()
{
    // Whole hours only: the period's ends are hour keys.
    const QString from = WearAttribution::hourKey(ui->dt_from->dateTime());
    const QString to = WearAttribution::hourKey(ui->dt_to->dateTime());
    database->openConnection(connName);
    QString refusal;
    const bool ok = database->assignReadings(slaveId, ui->cb_card->currentText(), from, to, &refusal, db);
    database->closeConnection(connName);
    if (!ok) {
        QMessageBox::critical(this, QStringLiteral("分配读数"), refusal, QMessageBox::Ok);
        return;
    }
    accept();
}
