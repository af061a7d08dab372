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
    // Hand the worker back so that its owner's thread may delete it.
    worker->moveToThread(thread());
}

void mydeal_thread::createWorker()
{
    worker = std::make_unique<datadeal>(database, settings);
    connect(this, &mydeal_thread::trancedata, worker.get(), &datadeal::receiveData,
            Qt::DirectConnection);
    connect(this, &mydeal_thread::deal_testcal, worker.get(), &datadeal::testcaldata,
            Qt::DirectConnection);
    connect(worker.get(), &datadeal::dataStored, this, &mydeal_thread::dataStored,
            Qt::DirectConnection);
}

void mydeal_thread::MY_receiveData(const QString& rdata)
{
    emit trancedata(rdata);
}

void mydeal_thread::MY_testcalData()
{
    emit deal_testcal();
}
