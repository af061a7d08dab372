#pragma once

// The dosimeter list: bindings, wear periods and the readings nobody wore.

#include <QDialog>
#include <QSqlDatabase>
#include <QString>

#include <memory>

#include "desktop/RecordList.h"

class AddDevice;
class AssignReadings;
class DataBase;
class ModDevice;
class QModelIndex;
class SettingsAdpater;

namespace Ui {
class DeviceInfo;
}

// "设备信息查询": lists the dosimeters bound to existing persons, filters
// them by bus address and leads to adding, modifying and deleting one.
class DeviceInfo : public QDialog
{
    Q_OBJECT

public:
    DeviceInfo(QWidget* parent, SettingsAdpater* settings, DataBase* database);
    ~DeviceInfo() override;

public slots:
    void ModifyDevice();
    void addDevice();
    void Search();
    void Quit();
    void Dell();
    void view(const QModelIndex& index);
    // 分配读数: the selected device's readings that nobody wore, to a person.
    void assignReadings();

private:
    // The clicked device's id while it still exists, else 0.
    int selectedDevice();
    // The selected device's wear periods and its readings nobody wore.
    void showPeriods();

    std::unique_ptr<Ui::DeviceInfo> ui;
    SettingsAdpater* settings = nullptr;
    DataBase* database = nullptr;
    AddDevice* addDeviceDialog = nullptr;
    ModDevice* modDeviceDialog = nullptr;
    AssignReadings* assignDialog = nullptr;
    const QString connName = QStringLiteral("device.db");
    QSqlDatabase db;
    RecordList list{this};
};
