#pragma once

// The time key of the register: "yyyyMMddhhmmss", as the dosimeters' hours,
// the day ("yyyyMMdd") and month ("yyyyMM") totals and the wear periods
// store it. "00000000000000" stands for the beginning of all records.

#include <QDateTime>
#include <QString>

class TimeKey
{
public:
    static constexpr const char* kFormat = "yyyyMMddhhmmss";
    static constexpr const char* kBeginning = "00000000000000";

    static QString of(const QDateTime& t);
    // The key of the start of t's hour.
    static QString hourOf(const QDateTime& t);
    // Invalid for anything that is no time of the calendar.
    static QDateTime parse(const QString& key);
    // A key as people read it, "yyyy-MM-dd hh:mm:ss" (or format): "最初" for
    // the beginning, none for an empty key (an open end), the key itself when
    // it is no time.
    static QString shown(const QString& key, const QString& none = QString(),
                         const QString& format = QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    // An hour, day or month key of the readings and their totals as people
    // read it: "2026-11-30 14:00", "2026-11-30", "2026-11"; anything else as
    // it is.
    static QString readable(const QString& key);
};
