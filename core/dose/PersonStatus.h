#pragma once

// One person's standing as of a moment: who, the figures and the level.

#include <QString>

#include "core/dose/DoseFigures.h"
#include "core/dose/DoseLevel.h"

// One person's standing as of a moment.
struct PersonStatus
{
    int id = 0;
    QString ID_card;
    QString name;
    QString department;
    int ptype = 0;
    DoseFigures figures;
    DoseLevel::Verdict verdict;
};
