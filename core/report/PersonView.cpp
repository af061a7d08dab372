// The main window's person view read from the register, the wear periods and
// the dose of record.
#include "core/report/PersonView.h"

#include "core/dose/DoseStatus.h"
#include "core/readings/Realdata.h"
#include "core/readings/totaldata_mon.h"
#include "core/readings/totaldata_year.h"
#include "core/register/DeviceRegister.h"
#include "core/register/StaffRegister.h"
#include "core/wear/WearAttribution.h"
#include "core/wear/WearPeriods.h"

namespace {

// A figure as the record the curve reads for its view.
QVariant point(int mode, const QString& key, double value)
{
    switch (mode) {
    case PersonView::Day: {
        Realdata r;
        r.dataTime = key;
        r.probeValue = value;
        return QVariant::fromValue(r);
    }
    case PersonView::Month: {
        totaldata_mon r;
        r.dataTime = key;
        r.probeValue = value;
        return QVariant::fromValue(r);
    }
    default: {
        totaldata_year r;
        r.dataTime = key;
        r.probeValue = value;
        return QVariant::fromValue(r);
    }
    }
}

} // namespace

bool PersonView::load(Store& store, QSqlDatabase db, const QString& idCard, int ptype, Mode mode, const QDate& shown,
                      const QDateTime& now)
{
    *this = PersonView();
    // The readings are the person's through their wear periods, whichever
    // dosimeter they wore; someone who never wore one shows as unbound.
    Devicedata device;
    QList<Wearingdata> periods;
    const bool hasDevice = DeviceRegister(store).selectByIdCard(device, idCard, db);
    // Periods that cannot be read are no sign of an unbound person.
    bool read = WearPeriods(store).selectByIdCard(periods, idCard, db);
    // A person without a staff row shows an empty name, gender and photo.
    StaffRegister(store).selectByIdCard(staff, idCard, db);
    if (read && !hasDevice && periods.isEmpty()) {
        bound = false;
        return true;
    }

    WearAttribution::Figures figures;
    QDateTime from;
    QDateTime to;
    WearAttribution::Kind kind = WearAttribution::Hours;
    if (mode == Day) {
        begin = shown.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("000000");
        end = shown.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("235900");
        from = QDateTime(shown, QTime(0, 0));
        to = from.addDays(1);
    } else if (mode == Month) {
        const QDate first(shown.year(), shown.month(), 1);
        begin = first.toString(QStringLiteral("yyyyMMdd"));
        end = first.addMonths(1).addDays(-1).toString(QStringLiteral("yyyyMMdd"));
        from = QDateTime(first, QTime(0, 0));
        to = from.addMonths(1);
        kind = WearAttribution::Days;
    } else if (mode == Year) {
        begin = QString::number(shown.year()) + QStringLiteral("01");
        end = QString::number(shown.year()) + QStringLiteral("12");
        from = QDateTime(QDate(shown.year(), 1, 1), QTime(0, 0));
        to = from.addYears(1);
        kind = WearAttribution::Months;
    }
    if (mode != None)
        read = WearAttribution::collect(&store, db, idCard, kind, from, to, figures) && read;
    curveMode = mode == None ? Day : mode;
    for (auto it = figures.values.cbegin(); it != figures.values.cend(); ++it)
        points.append(point(curveMode, it.key(), it.value()));
    legend = WearAttribution::legend(figures.addresses.isEmpty() ? QList<int>{device.slaveId} : figures.addresses);

    // The same figure the overview and dosectl show; the limit comes from
    // the dose policy.
    DoseStatus status(store, db);
    DoseFigures lastYear;
    read = status.lastYear(idCard, now, lastYear) && read;
    used = lastYear.last12;
    adjusted = lastYear.adjusted;
    pending = lastYear.pending;
    passive = lastYear.passive;
    // A net dose below the background is no dose.
    used = qMax(used, 0.0);
    limit = status.policy().annualLimit(ptype);
    return read;
}

QList<double> PersonView::shares() const
{
    if (limit <= 0)
        return {1.0, 0.0};
    return {1 - used / limit, used / limit};
}
