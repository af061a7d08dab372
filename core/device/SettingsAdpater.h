#pragma once

#include <QList>
#include <QSettings>

#include "core/device/Com_Info.h"
#include "core/device/Probe_Info.h"

// The settings file "zudovi.ini": the serial-port records (array "myCom") and
// the probe records (array "myProbe"). Both lists are loaded once, at
// construction; the file is written only by writeSettings.
class SettingsAdpater : public QSettings
{
    Q_OBJECT

public:
    SettingsAdpater(const QString& fileName, QSettings::Format format, QObject* parent = nullptr);

    void readSettings();
    void writeSettings();

    QList<Com_Info> getComList() const;
    void setComList(const QList<Com_Info>& list);
    QList<Probe_Info> getProbeList() const;
    void setProbeList(const QList<Probe_Info>& list);

private:
    QList<Com_Info> comList;
    QList<Probe_Info> probeList;
};
