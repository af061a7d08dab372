#pragma once

// The processing thread in which the data replies are stored.

#include <QSemaphore>
#include <QString>
#include <QThread>

#include <memory>

class Store;
class SettingsAdpater;
class datadeal;

// The processing thread. It owns the worker that stores the data replies;
// the worker is wired with direct connections, so a reply is stored in the
// thread that hands it over (the serial link's), before MY_receiveData
// returns, and dataStored reports the outcome at once.
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
