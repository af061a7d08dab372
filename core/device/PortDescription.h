#pragma once

#include <QSerialPortInfo>
#include <QString>

// What the link needs to know about one port found on the computer. The
// system's enumeration fills it from QSerialPortInfo; a replacement lister
// (tests, the simulator) can describe ports the enumeration never shows,
// such as pseudo-terminals.
struct PortDescription
{
    QString portName;        // the name the port is opened under and reported as
    QString systemLocation;  // the device file, used to tell ports apart
    QString description;
    QString manufacturer;

    static PortDescription fromInfo(const QSerialPortInfo& info)
    {
        PortDescription d;
        d.portName = info.portName();
        d.systemLocation = info.systemLocation();
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        return d;
    }
};
