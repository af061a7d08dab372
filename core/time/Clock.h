#pragma once

#include <QDateTime>

// The one place the program asks for "now" (the display's last-year window,
// the date edits). Tests fix it so that results do not depend on the day
// they run.
class Clock
{
public:
    static QDateTime now();
    static void setNow(const QDateTime& fixed);
    static void reset();
};
