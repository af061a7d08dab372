// The program's "now": the computer's clock, unless a test has fixed it.

#include "core/time/Clock.h"

namespace {
QDateTime fixedNow;
}

QDateTime Clock::now()
{
    return fixedNow.isValid() ? fixedNow : QDateTime::currentDateTime();
}

void Clock::setNow(const QDateTime& fixed)
{
    fixedNow = fixed;
}

void Clock::reset()
{
    fixedNow = QDateTime();
}
