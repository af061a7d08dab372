#pragma once

// Passive dosimeters' results and hourly readings put into a scratch database the way the program stores them.

#include <QList>
#include <QPair>
#include <QString>

#include <cmath>

class ScratchDatabase;

// Hp(10) of a result that has none (not returned, unused, M).
const double kNoHp10 = std::nan("");

// One laboratory file of its own holding one result, stored through
// PassiveStore::add (replacing the results whose ids are given); the
// result's id, 0 when it was refused.
int addPassiveResult(ScratchDatabase& s, const QString& card, const QString& first, const QString& last,
                     const QString& code, double hp10, const QList<int>& replaced = {});

// Hourly readings of an address ("yyyyMMddhh" -> the hour's gross dose),
// with the day and month totals the storage keeps.
using Hours = QList<QPair<QString, double>>;
void addHours(ScratchDatabase& s, int slaveId, const Hours& hours);
