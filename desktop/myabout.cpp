// The about box: the version shown on its form, and its button closing it.

#include "desktop/myabout.h"

#include <QDialogButtonBox>

#include "ui_myabout.h"

myabout::myabout(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::myabout>())
{
    ui->setupUi(this);
    ui->label_3->setText(QStringLiteral("版本：") + QStringLiteral(DOSE_VERSION));
    // The form's own connection has accepted by then; close() also sends
    // the close event that anyone watching the dialog may rely on.
    connect(ui->bb_ok, &QDialogButtonBox::accepted, this, &QWidget::close);
}

myabout::~myabout() = default;
