#pragma once

// The worker that stores the dosimeters' data replies: the readings and the totals they add to.

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <functional>

#include "core/readings/PendingReading.h"

class Store;
class QThread;
class SettingsAdpater;

// Stores the data replies of the dosimeters: every new hourly reading goes
// into Realdata, and the day (Monthdata) and month (Yeardata) totals of the
// device grow by the readings actually inserted. One reply is one
// transaction: it is stored completely or not at all, and dataStored tells
// which.
class datadeal : public QObject
{
    Q_OBJECT

public:
    datadeal(Store* database, SettingsAdpater* settings);

    // Where a reply's transaction has got to: begun, a reading written, about
    // to commit. A probe set here is called at each; tests cut the power there.
    enum class Step { Begun, Written, Committing };
    static void setProbe(std::function<void(Step)> probe);

public slots:
    // Adds the readings of `pending` to the day and month totals of the
    // device. Runs inside the caller's open transaction on "deal_db", under
    // the worker lock; false as soon as one statement fails (the caller then
    // rolls back).
    bool updateTotals(int slaveId);
    // One complete reply as lower-case hexadecimal text. Emits dataStored
    // before it returns.
    void receiveData(const QString& rdata);
    // The same without the signal: true when the reply is stored.
    bool store(const QString& rdata);
    // Recomputes the day and month totals of device 20 for 14 April 2016 from
    // the readings stored for them.
    void testcaldata();
    // Gives the storage's connection up; called by the thread that stored
    // the replies before it ends.
    void releaseConnection();

signals:
    // true: the reply is stored (or had nothing new); false: nothing of it is.
    void dataStored(bool ok);

private:
    bool storeReply(const QString& rdata);
    bool storeReadings(const QString& rdata, int slaveId, int count);
    bool recomputeTotals(int slaveId, const QString& day);
    bool ensureConnection();

    QList<PendingReading> pending;
    SettingsAdpater* settings = nullptr;
    Store* database = nullptr;
    QString connName = QStringLiteral("deal_db");
    QSqlDatabase db;
    // The thread that created "deal_db"; Qt connections may be used there only.
    QThread* connThread = nullptr;

    // One reply at a time, whatever the number of workers; taken before the
    // DataBase lock.
    static QMutex mutex;
    static std::function<void(Step)> probe;
};
