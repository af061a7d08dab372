#pragma once

// The dialog that binds a dosimeter to a person.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

class DataBase;

namespace Ui {
class AddDevice;
}

// "添加设备信息": binds a dosimeter's bus address to a person.
class AddDevice : public QDialog
{
    Q_OBJECT

public:
    AddDevice(QWidget* parent, DataBase* database);
    ~AddDevice() override;

    // Refills the ID cards and runs the dialog modally.
    void prepareAndShow();

    // A bus address as typed: a whole number the 16-bit field can carry.
    // False, and address untouched, for anything else.
    static bool parseAddress(const QString& text, int& address);

public slots:
    void addDevice();
    void Quit();

private:
    void refuse(const QString& text);

    std::unique_ptr<Ui::AddDevice> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("AddDevice.db");
    QSqlDatabase db;
};
