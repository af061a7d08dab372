// The staff listed and filtered by name, the person dialogs and the dose record opened, and a person deleted
// with or without their history.

#include "desktop/Infomation.h"

#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

#include "core/DataBase.h"
#include "core/dose/AdjustmentStore.h"
#include "core/register/StaffRegister.h"
#include "desktop/AddStaff.h"
#include "desktop/ModifyStaff.h"
#include "desktop/ReportPrompt.h"
#include "ui_Infomation.h"

Infomation::Infomation(QWidget* parent, SettingsAdpater* settings, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::Infomation>())
    , settings(settings)
    , database(database)
{
    ui->setupUi(this);
    addStaff = new AddStaff(this, database);
    modifyStaff = new ModifyStaff(this, database);

    connect(ui->btnSearch, &QPushButton::clicked, this, &Infomation::Search);
    connect(ui->btnAdd, &QPushButton::clicked, this, &Infomation::Addstaff);
    connect(ui->btnModify, &QPushButton::clicked, this, &Infomation::Modifystaff);
    connect(ui->btnDel, &QPushButton::clicked, this, &Infomation::Dell);
    connect(ui->btnQuit, &QPushButton::clicked, this, &Infomation::Quit);
    connect(ui->btnRecord, &QPushButton::clicked, this, &Infomation::Record);
    connect(ui->tableView, &QAbstractItemView::clicked, this, &Infomation::view);

    database->createConnection(connName);
    db = database->getConnection(connName);
    list.attach(ui->tableView, database, connName, db);
}

Infomation::~Infomation() = default;

void Infomation::Modifystaff()
{
    const int id = selectedPerson();
    if (id == 0)
        list.askForSelection();
    else
        modifyStaff->loadAndShow(id);
    Search();
}

void Infomation::Addstaff()
{
    addStaff->prepareAndShow();
    Search();
}

void Infomation::Search()
{
    QVariantList values;
    const QString sql = StaffRegister::listStatement(ui->le_name->text(), &values);

    const QStringList headers = {QStringLiteral("Id号"), QStringLiteral("身份证号"), QStringLiteral("姓名"),
                                 QStringLiteral("性别"), QStringLiteral("部门"), QStringLiteral("联系方式"),
                                 QStringLiteral("住址")};
    list.load(sql, values, headers);
}

void Infomation::Quit()
{
    close();
}

void Infomation::Dell()
{
    const int id = selectedPerson();
    if (id == 0) {
        list.askForSelection();
    } else if (hasAdjustments(id)) {
        return;
    } else {
        Staffdata person;
        database->openConnection(connName);
        database->selectStaffById(person, id, db);
        database->closeConnection(connName);
        const int answer = askKeepHistory(person);
        if (answer == QMessageBox::Yes || answer == QMessageBox::No) {
            deletePerson(id, answer == QMessageBox::Yes);
            // The database hands the highest id out again; a selection kept
            // past the delete could name the next person added.
            list.clearSelection();
        }
    }
    Search();
}

void Infomation::Record()
{
    QString card;
    const int id = list.selected([this, &card](int id, QSqlDatabase& conn) {
        Staffdata person;
        const bool found = database->selectStaffById(person, id, conn);
        card = person.ID_card;
        return found;
    });
    if (id == 0)
        list.askForSelection();
    else
        ReportPrompt::personRecord(this, database, card);
}

void Infomation::view(const QModelIndex& index)
{
    list.select(index);
}

int Infomation::selectedPerson()
{
    return list.selected([this](int id, QSqlDatabase& conn) {
        Staffdata person;
        return database->selectStaffById(person, id, conn);
    });
}

bool Infomation::hasAdjustments(int id)
{
    // Adjustments are kept for life with the readings they stand beside:
    // their person stays (the database refuses the deletion too).
    database->openConnection(connName);
    Staffdata person;
    QList<DoseAdjustmentdata> adjustments;
    const bool read = database->selectStaffById(person, id, db)
        && AdjustmentStore(*database).selectByCard(adjustments, person.ID_card, db);
    database->closeConnection(connName);
    if (!read) {
        QMessageBox::critical(this, QStringLiteral("删除"), QStringLiteral("无法读取该人员的剂量更正, 未删除。"));
        return true;
    }
    if (adjustments.isEmpty())
        return false;
    QMessageBox::warning(this, QStringLiteral("删除"),
                         QStringLiteral("%1 有 %2 条剂量更正记录, 不能删除: 剂量更正与原始读数一起终身保存。")
                             .arg(person.name)
                             .arg(adjustments.size()));
    return true;
}

int Infomation::askKeepHistory(const Staffdata& person)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("询问"),
                    QStringLiteral("删除人员 %1（身份证号 %2）？\n\n"
                                   "“是”：只删除人员登记，其剂量读数保留在数据库中。\n"
                                   "“否”：同时删除其佩戴期间的剂量读数和日、月累计，无法恢复。")
                        .arg(person.name, person.ID_card),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    // A box of Yes and No treats Escape and closing as No, which would
    // delete the history; they land on 取消 instead.
    QAbstractButton* undecided = box.addButton(QMessageBox::Cancel);
    undecided->setText(QStringLiteral("取消"));
    box.setEscapeButton(undecided);
    return box.exec();
}

void Infomation::deletePerson(int id, bool keepHistory)
{
    database->openConnection(connName);
    // The person, their wear periods and the readings of the hours they
    // wore go together or not at all; other wearers' readings stay.
    const bool removed = keepHistory ? database->deleteById(database->staffTable, id, db)
                                     : database->deleteStaffWithHistory(id, db);
    database->closeConnection(connName);
    if (!removed)
        QMessageBox::critical(this, QStringLiteral("删除人员"), QStringLiteral("删除人员失败，登记未改变。"));
}
