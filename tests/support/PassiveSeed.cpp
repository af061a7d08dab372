// Scratch passive results, each in a laboratory file of its own, and hourly readings with their totals.

#include "support/PassiveSeed.h"

#include <QDebug>

#include "core/readings/PassiveStore.h"
#include "support/ScratchDatabase.h"

int addPassiveResult(ScratchDatabase& s, const QString& card, const QString& first, const QString& last,
                     const QString& code, double hp10, const QList<int>& replaced)
{
    static int files = 0;
    PassiveImportdata file;
    file.fileName = QStringLiteral("lab%1.csv").arg(++files);
    file.sha256 = QStringLiteral("%1").arg(files, 64, 10, QLatin1Char('0'));
    file.content = file.fileName.toUtf8();
    PassiveResultdata r;
    r.ID_card = card;
    r.periodStart = first;
    r.periodEnd = last;
    r.hasHp10 = !std::isnan(hp10);
    r.hp10_uSv = r.hasHp10 ? hp10 : 0;
    r.code = code;
    r.line = 2;
    QString why;
    if (PassiveStore(*s.store).add(file, {r}, replaced, &why, s.db) <= 0) {
        qWarning() << "passive result refused:" << why;
        return 0;
    }
    return s.value(QStringLiteral("select max(id) from PassiveResult")).toInt();
}

void addHours(ScratchDatabase& s, int slaveId, const Hours& hours)
{
    for (const auto& h : hours)
        s.addDose(QStringLiteral("Realdata"), slaveId, h.first + QStringLiteral("0000"), h.second);
    s.addMonths(slaveId, {});
}
