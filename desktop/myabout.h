#pragma once

// The about box: the program's version and where to get support.

#include <QDialog>

#include <memory>

namespace Ui {
class myabout;
}

// "关于我们": the program's version and where to ask for support.
class myabout : public QDialog
{
    Q_OBJECT

public:
    explicit myabout(QWidget* parent);
    ~myabout() override;

private:
    std::unique_ptr<Ui::myabout> ui;
};
