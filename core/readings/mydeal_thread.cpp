// The processing thread started, its storage worker wired, and the replies handed to it.

#include "core/readings/mydeal_thread.h"

#include <QtDebug>

#include "core/store/Store.h"
#include "core/log/QsLog.h"
#include "core/readings/datadeal.h"

mydeal_thread::mydeal_thread(QObject* parent, Store* database, SettingsAdpater* settings)
    : QThread(parent), database(database), settings(settings)
{
    start(QThread::InheritPriority);
    if (isRunning()) {
        workerReady.acquire();
    } else {
        // Without a thread the replies must still be stored.
        qWarning() << "mydeal_thread: the processing thread could not be started";
        createWorker();
    }
}

mydeal_thread::~mydeal_thread()
{
    quit();
    wait();
    worker.reset();
}

void mydeal_thread::run()
{
    QLOG_INFO() << "mydeal_thread CUR ID = " << QThread::currentThreadId();
    createWorker();
    workerReady.release();
    exec();
    worker->releaseConnection();
    // Hand the worker back so that its owner's thread may delete it.
    worker->moveToThread(thread());
}

void mydeal_thread::createWorker()
{
    worker = std::make_unique<datadeal>(database, settings);
    // Queued both ways: the replies wait their turn in this thread's event
    // queue, and the outcomes in the queue of the thread that listens.
    connect(this, &mydeal_thread::trancedata, worker.get(), &datadeal::receiveData, Qt::QueuedConnection);
    connect(this, &mydeal_thread::deal_testcal, worker.get(), &datadeal::testcaldata, Qt::QueuedConnection);
    connect(worker.get(), &datadeal::dataStored, this, &mydeal_thread::dataStored, Qt::QueuedConnection);
}

bool mydeal_thread::store(const QString& rdata)
{
    bool ok = false;
    datadeal* target = worker.get();
    QMetaObject::invokeMethod(
        target, [target, &rdata, &ok] { ok = target->store(rdata); },
        isRunning() ? Qt::BlockingQueuedConnection : Qt::DirectConnection);
    return ok;
}

void mydeal_thread::MY_receiveData(const QString& rdata)
{
    emit trancedata(rdata);
}

void mydeal_thread::MY_testcalData()
{
    emit deal_testcal();
}
