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
};
