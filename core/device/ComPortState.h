#pragma once

// What the serial link keeps for each of its ports while requests and replies go through it.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

class QSerialPort;
class QTimer;

// The state of one serial port of the link. The port and its timer belong to
// the SerialPort object (they are its children); this record only points at
// them.
struct ComPortState
{
    QSerialPort* port = nullptr;
    QTimer* timer = nullptr;        // response timer
    QString comName;
    QByteArray rxHex;               // bytes not yet taken, as lower-case hex text
    int devId = -1;                 // address of the device last seen here, -1 none
    bool opened = false;
    int cmdState = 65535;           // 0 read, 1 clear, 2 set address, 65535 none

    // Record count of the data reply being assembled on this port, -1 when
    // none. Kept per port so that replies arriving on several ports at once
    // are assembled independently.
    int pendingCount = -1;
    // rxHex before this position has already been searched for the
    // acknowledgement texts, so a long reply is not searched over and over.
    int scanFrom = 0;
    // Limits the progress reports of a long reply.
    QElapsedTimer progressClock;
};
