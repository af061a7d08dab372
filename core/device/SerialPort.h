#pragma once

// The serial link to the dosimeters: its ports, the three requests and the outcomes of their replies.

#include <functional>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRecursiveMutex>
#include <QSerialPort>
#include <QSqlDatabase>
#include <QString>

#include "core/device/Com_Info.h"
#include "core/device/ComPortState.h"
#include "core/device/PortDescription.h"

class Store;
class SettingsAdpater;

// The serial link to the dosimeters: opens every port at 38400 8N1, sends the
// three requests, assembles the replies and reports each outcome through
// data_Result. Lives in the GUI thread.
class SerialPort : public QObject
{
    Q_OBJECT

public:
    using PortLister = std::function<QList<PortDescription>()>;

    // Largest reply a device can send: address, count and 65535 records,
    // as hex text.
    static constexpr int kMaxReplyHex = 2 * (4 + 7 * 65535);
    static constexpr int kDefaultResponseTimeout = 30000;
    // Progress of a long reply is reported at most this often per port.
    static constexpr int kProgressIntervalMs = 200;

    SerialPort(QObject* parent, SettingsAdpater* settings, Store* database);
    ~SerialPort() override;

    void openPorts();
    void stopPorts();

    // The ports the link enumerates come from one replaceable function;
    // an empty function restores the system's enumeration.
    static void setPortLister(PortLister lister);
    static QList<PortDescription> listPorts();
    // The ports the link opens, in its order: those enumerated, then those
    // named in stored that exist here but were not enumerated.
    static QList<PortDescription> portsInUse(const QList<Com_Info>& stored);
    // The line the dosimeters speak, which every port is opened with.
    static Com_Info lineSettings(const QString& portName);

    // Whether a data reply's outcome waits for the storage: one
    // dataStoreResult per MySave_data, in the order handed over (the
    // processing thread's dataStored). Off, the default, a reply counts as
    // stored once it is handed over.
    void setAwaitStorage(bool await) { awaitStorage = await; }

    // Silence on a port after a request that counts as no answer.
    void setResponseTimeout(int ms);
    int responseTimeout() const { return timeoutMs; }

    const QList<ComPortState>& portStates() const { return ports; }
    const QList<Com_Info>& portParameters() const { return portParams; }

    // The receive path of one entry: appends the bytes to its buffer and
    // takes whatever reply is complete. readMyCom feeds it from the ports.
    void receiveBytes(int index, const QByteArray& bytes);

    static QSerialPort::DataBits toDataBits(const QString& text);
    static QSerialPort::StopBits toStopBits(const QString& text);
    static QSerialPort::Parity toParity(const QString& text);
    static QSerialPort::FlowControl toFlowControl(const QString& text);

    static QByteArray readRequest();
    static QByteArray clearRequest(int address);
    static QByteArray setIdRequest(int oldAddress, int newAddress);

public slots:
    void readMyCom();
    void MyCom_timeout();
    void SerCompara_changge();
    void readrealdata();
    void dealsyndata(int type, int oldid, int newid);
    // The storage's outcome of the oldest reply handed over and not yet
    // answered: reported through data_Result (0, or 3 when not stored).
    void dataStoreResult(bool ok);

signals:
    // type 0 read, 1 clear, 2 address change, 3 read but not stored.
    void data_Result(int type, QString comname, int devid, bool result);
    void MySave_data(QString data);
    void receiveProgress(QString comName, int received, int total);
    // A port a read request could not open, with the system's reason (for
    // example a missing permission), so the operator learns what to fix.
    void portOpenFailed(QString comName, QString reason);

private:
    void parseReply(int kind, int index, const QString& text);
    int findPortByDevId(int address) const;
    bool anyPortOpen() const;

    void recognise(int index);
    void takeBuffer(ComPortState& state);
    void startResponseTimer(ComPortState& state);
    bool sendRequest(int index, const QByteArray& frame, int command);
    void releasePorts();
    static QList<PortDescription> configuredPorts(const QList<PortDescription>& enumerated,
                                                  const QList<Com_Info>& stored);

    SettingsAdpater* settings = nullptr;
    Store* database = nullptr;
    QString connName = QStringLiteral("deal.db");
    QSqlDatabase db;
    QList<Com_Info> portParams;
    QList<ComPortState> ports;

    int timeoutMs = kDefaultResponseTimeout;
    // The replies handed to the storage whose outcome is awaited, oldest first.
    struct AwaitedReply
    {
        QString comName;
        int address = 0;
    };
    QList<AwaitedReply> awaited;
    bool awaitStorage = false;
    // Changes whenever the entries are rebuilt or released, so that code
    // resuming after a signal knows its index no longer means anything.
    quint64 generation = 0;

    static QRecursiveMutex replyMutex;
};
