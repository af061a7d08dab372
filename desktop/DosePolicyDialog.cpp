// The stored policy shown in spin boxes, and a change checked and saved in one transaction.

#include "desktop/DosePolicyDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QMessageBox>
#include <QShowEvent>

#include "core/DataBase.h"
#include "core/dose/DosePolicy.h"
#include "ui_DosePolicyDialog.h"

DosePolicyDialog::DosePolicyDialog(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DosePolicyDialog>())
    , database(database)
{
    ui->setupUi(this);
    database->createConnection(connName);
}

DosePolicyDialog::~DosePolicyDialog() = default;

void DosePolicyDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A window restored from the task bar keeps what is being edited.
    if (event->spontaneous())
        return;
    database->openConnection(connName);
    bool readable = false;
    const DosePolicy policy = DosePolicy::load(*database, database->getConnection(connName), &readable);
    database->closeConnection(connName);
    for (const DosePolicy::Row& row : DosePolicy::rows()) {
        if (auto* box = findChild<QDoubleSpinBox*>(row.name))
            box->setValue(policy.value(row.name));
        if (auto* check = findChild<QCheckBox*>(row.name))
            check->setChecked(policy.value(row.name) != 0);
    }
    // Saving what could not be read would put the defaults over the limits in force.
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(readable);
    if (!readable)
        QMessageBox::critical(this, windowTitle(), QStringLiteral("剂量限值读取失败, 不能修改。"));
}

void DosePolicyDialog::accept()
{
    DosePolicy policy;
    for (const DosePolicy::Row& row : DosePolicy::rows()) {
        if (auto* box = findChild<QDoubleSpinBox*>(row.name))
            policy.setValue(row.name, box->value());
        if (auto* check = findChild<QCheckBox*>(row.name))
            policy.setValue(row.name, check->isChecked() ? 1 : 0);
    }
    const QStringList problems = policy.problems();
    if (!problems.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problems.join(QLatin1Char('\n')));
        return;
    }
    database->openConnection(connName);
    const bool saved = policy.save(*database, database->getConnection(connName));
    database->closeConnection(connName);
    if (!saved) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("剂量限值保存失败!"));
        return;
    }
    QDialog::accept();
    emit policyChanged();
}
