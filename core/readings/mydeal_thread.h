#pragma once

// The processing thread in which the data replies are stored.

#include <QSemaphore>
#include <QString>
#include <QThread>

#include <memory>

class Store;
class SettingsAdpater;
class datadeal;

// The processing thread. It owns the worker that stores the data replies.
// MY_receiveData queues a reply for it and returns at once; the replies are
// stored one after another in the order given, and dataStored reports each
// outcome, in that order, to the thread that made this object (through its
// event loop). The window therefore never waits for the storage.
class mydeal_thread : public QThread
{
    Q_OBJECT

public:
    mydeal_thread(QObject* parent, Store* database, SettingsAdpater* settings);
    ~mydeal_thread() override;

signals:
    void trancedata(const QString& rdata);
    void deal_testcal();
    // Emitted once for every reply given to MY_receiveData: true when it is
    // stored, false when nothing of it could be.
    void dataStored(bool ok);

public:
    // Stores one reply in the processing thread and waits for it, without
    // emitting dataStored: for programs without an event loop of their own
    // (the simulator's sample data, benchmarks, the power-loss child).
    bool store(const QString& rdata);

public slots:
    void MY_receiveData(const QString& rdata);
    void MY_testcalData();

protected:
    void run() override;

private:
    void createWorker();

    Store* database = nullptr;
    SettingsAdpater* settings = nullptr;
    std::unique_ptr<datadeal> worker;
    // Released by run() once the worker is wired: no reply may be emitted
    // into an unconnected signal.
    QSemaphore workerReady;
};
