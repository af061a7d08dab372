#pragma once

// The windows of net dose a person's level is judged on.

#include <QStringList>

// A person's net doses as of one moment D, in μSv.
struct DoseFigures
{
    double quarter = 0;  // the calendar quarter of D, through D
    double year = 0;     // 1 January of D's year through D
    double fiveYear = 0; // 1 January four years before D's year through D
    double last12 = 0;   // what the person panel shows as used
    // The months ("yyyyMM") of the widest window worked out whose dose of
    // record is an approved adjustment, and whether one waits for approval.
    QStringList adjusted;
    bool pending = false;
    // The months of that window whose dose came, all or part, from passive results.
    QStringList passive;

    // The adjusted months as the overview lists them, and a word where one
    // waits for approval (not yet counted).
    QString adjustedText() const
    {
        QString text = adjusted.join(QLatin1Char(';'));
        if (pending)
            text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("（有更正待批准）");
        return text;
    }
};
