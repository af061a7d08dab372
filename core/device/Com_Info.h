#pragma once

#include <QString>

// One serial-port parameter record. The text fields hold the values exactly
// as the user or the settings file gave them; the serial link converts them
// when it opens a port.
struct Com_Info
{
    int type = 1;
    QString SerialPort = QStringLiteral("COM1:");
    QString Baud = QStringLiteral("9600");
    QString DataBits = QStringLiteral("8");
    QString StopBits = QStringLiteral("1");
    QString Parity = QStringLiteral("None");
    QString RTS = QStringLiteral("Disable");
    QString Timeout = QStringLiteral("0");
    int IsShared = 0;
};
