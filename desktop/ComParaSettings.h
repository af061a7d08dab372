#pragma once

// The dialog that shows the serial ports the link uses and names the ports it should open besides those it finds.

#include <QDialog>
#include <QList>
#include <QString>

#include <memory>

#include "core/device/Com_Info.h"

namespace Ui {
class ComParaSettings;
}

class QShowEvent;
class SettingsAdpater;

// "串口设置": one numbered slot per port the link opens, in the link's order
// (the ports it finds, then those named here), the named ones it cannot find,
// and a slot to name a new one. The line parameters are shown as the link
// opens every port, and cannot be changed. The names are edited on a copy;
// only OK stores them.
class ComParaSettings : public QDialog
{
    Q_OBJECT

public:
    ComParaSettings(QWidget* parent, SettingsAdpater* settings);
    ~ComParaSettings() override;

    // The named ports as the next OK would store them.
    QStringList namedPorts() const;

signals:
    void Compara_changge();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Slot
    {
        QString name;
        bool found = false; // the link opens it
        bool named = false; // the settings name it: its name may be changed or cleared
    };
    void load();
    void keepTyped();
    void showSlot(int index);
    void save();

    std::unique_ptr<Ui::ComParaSettings> ui;
    SettingsAdpater* settings = nullptr;
    QList<Slot> slotList;
    int current = -1;
};
