#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include "sim/SimDosimeter.h"

class QSocketNotifier;

// A simulated dosimeter behind a pseudo-terminal. The program under test
// opens slavePath() (or the symlink) as its serial port; this side answers
// on the master through the device logic. Replies can be cut into pieces,
// delayed between pieces, or withheld.
class SimPty : public QObject
{
    Q_OBJECT

public:
    explicit SimPty(int address = 1, QObject* parent = nullptr);
    ~SimPty() override;

    bool isValid() const { return masterFd >= 0; }
    QString slavePath() const { return slaveName; }
    // Holds the slave open for the simulator's lifetime, so the terminal keeps
    // its raw settings and the master never sees a hang-up.
    int slaveDescriptor() const { return slaveFd; }

    // A link to the slave, removed again on destruction.
    bool createSymlink(const QString& path);
    QString symlinkPath() const { return linkName; }

    SimDosimeter& device() { return dev; }

    void setChunkSize(int bytes) { chunk = qMax(0, bytes); }  // 0: a reply in one write
    void setDelay(int ms) { delayMs = qMax(0, ms); }         // pause between pieces
    void setSilent(bool on) { silent = on; }                 // hear requests, never answer

    // Sends bytes as if the device had sent them, cut and paced like a reply.
    void send(const QByteArray& bytes);
    bool idle() const { return queue.isEmpty() && writing.isEmpty() && !pieceTimer.isActive(); }

    // Every byte the program wrote to the port so far.
    QByteArray received() const { return inbound; }
    void clearReceived() { inbound.clear(); }

signals:
    // After the device has taken them, so its state already shows their effect.
    void bytesReceived(const QByteArray& bytes);
    void replySent();

private:
    void onReadable();
    void onWritable();
    void sendNext();
    void flush();

    SimDosimeter dev;
    int masterFd = -1;
    int slaveFd = -1;
    QString slaveName;
    QString linkName;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    QTimer pieceTimer;
    QList<QByteArray> queue;
    QByteArray writing;
    QByteArray inbound;
    int chunk = 0;
    int delayMs = 0;
    bool silent = false;
};
