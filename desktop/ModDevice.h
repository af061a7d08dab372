#pragma once

// The dialog that moves a bound dosimeter to another bus address.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

#include "core/register/Devicedata.h"

class DataBase;

namespace Ui {
class ModDevice;
}

// "修改设备信息": changes the bus address of a bound dosimeter; the shared
// connection "Modstaff.db".
class ModDevice : public QDialog
{
    Q_OBJECT

public:
    ModDevice(QWidget* parent, DataBase* database);
    ~ModDevice() override;

    // Loads device id and runs the dialog modally; a device that no longer
    // exists is not shown.
    void loadAndShow(int id);

public slots:
    void modDevice();
    void Quit();

private:
    void refuse(const QString& text);

    std::unique_ptr<Ui::ModDevice> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("Modstaff.db");
    QSqlDatabase db;
    Devicedata current;
};
