// Loading and saving the serial-port and probe records of "zudovi.ini".

#include "core/device/SettingsAdpater.h"

SettingsAdpater::SettingsAdpater(const QString& fileName, QSettings::Format format, QObject* parent)
    : QSettings(fileName, format, parent)
{
    readSettings();
}

void SettingsAdpater::readSettings()
{
    // A file without the array names no port: the link opens those it finds.
    const int comCount = beginReadArray(QStringLiteral("myCom"));
    for (int i = 0; i < comCount; ++i) {
        setArrayIndex(i);
        // Inside an existing array a missing key reads as empty or 0.
        Com_Info info;
        info.type = value(QStringLiteral("type")).toInt();
        info.SerialPort = value(QStringLiteral("SerialPort")).toString();
        info.Baud = value(QStringLiteral("Baud")).toString();
        info.Parity = value(QStringLiteral("Parity")).toString();
        info.DataBits = value(QStringLiteral("DataBits")).toString();
        info.StopBits = value(QStringLiteral("StopBits")).toString();
        info.RTS = value(QStringLiteral("RTS")).toString();
        info.Timeout = value(QStringLiteral("Timeout")).toString();
        info.IsShared = value(QStringLiteral("IsShared")).toInt();
        comList.append(info);
    }
    endArray();

    const int probeCount = beginReadArray(QStringLiteral("myProbe"));
    for (int i = 0; i < probeCount; ++i) {
        setArrayIndex(i);
        Probe_Info info;
        info.id = value(QStringLiteral("id")).toInt();
        info.lowdata = value(QStringLiteral("lowdata")).toInt();
        info.highdata = value(QStringLiteral("highdata")).toInt();
        info.errratio = value(QStringLiteral("errratio")).toDouble();
        info.interval = value(QStringLiteral("interval")).toInt();
        info.natural = value(QStringLiteral("natural")).toDouble();
        info.artificial = value(QStringLiteral("artificial")).toDouble();
        info.srcdata = value(QStringLiteral("srcdata")).toDouble();
        info.srcdata_h = value(QStringLiteral("srcdata_h")).toDouble();
        info.srcvdata = value(QStringLiteral("srcvdata")).toDouble();
        probeList.append(info);
    }
    endArray();
}

void SettingsAdpater::writeSettings()
{
    // Without a size the element count follows from the indices written, so
    // a shorter list rewrites the count and only its elements are read back.
    // The old groups go first so that no stale element stays in the file.
    remove(QStringLiteral("myCom"));
    beginWriteArray(QStringLiteral("myCom"));
    for (int i = 0; i < comList.size(); ++i) {
        const Com_Info& info = comList.at(i);
        setArrayIndex(i);
        setValue(QStringLiteral("type"), info.type);
        setValue(QStringLiteral("SerialPort"), info.SerialPort);
        setValue(QStringLiteral("Baud"), info.Baud);
        setValue(QStringLiteral("DataBits"), info.DataBits);
        setValue(QStringLiteral("StopBits"), info.StopBits);
        setValue(QStringLiteral("Parity"), info.Parity);
        setValue(QStringLiteral("RTS"), info.RTS);
        setValue(QStringLiteral("Timeout"), info.Timeout);
        setValue(QStringLiteral("IsShared"), info.IsShared);
    }
    endArray();

    remove(QStringLiteral("myProbe"));
    beginWriteArray(QStringLiteral("myProbe"));
    for (int i = 0; i < probeList.size(); ++i) {
        const Probe_Info& info = probeList.at(i);
        setArrayIndex(i);
        setValue(QStringLiteral("id"), info.id);
        setValue(QStringLiteral("lowdata"), info.lowdata);
        setValue(QStringLiteral("highdata"), info.highdata);
        setValue(QStringLiteral("errratio"), info.errratio);
        setValue(QStringLiteral("interval"), info.interval);
        setValue(QStringLiteral("natural"), info.natural);
        setValue(QStringLiteral("artificial"), info.artificial);
        setValue(QStringLiteral("srcdata"), info.srcdata);
        setValue(QStringLiteral("srcdata_h"), info.srcdata_h);
        setValue(QStringLiteral("srcvdata"), info.srcvdata);
    }
    endArray();
}

QList<Com_Info> SettingsAdpater::getComList() const
{
    return comList;
}

void SettingsAdpater::setComList(const QList<Com_Info>& list)
{
    comList = list;
}

QList<Probe_Info> SettingsAdpater::getProbeList() const
{
    return probeList;
}

void SettingsAdpater::setProbeList(const QList<Probe_Info>& list)
{
    probeList = list;
}
