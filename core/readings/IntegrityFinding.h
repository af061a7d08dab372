#pragma once

#include <QString>
#include <QStringList>

// One thing `dosectl check` found wrong: where (table, device, key), what,
// and the value the rows should hold beside the one they hold.
struct IntegrityFinding
{
    enum Kind {
        DamagedFile,          // PRAGMA integrity_check did not say "ok"
        WrongTotal,           // a day or month total differs from its readings
        TotalWithoutReadings, // a total with no reading under it
        ReadingsWithoutTotal, // readings whose day or month has no total row
        DuplicateTotal,       // two total rows of one device and key
        DuplicateReading,     // two readings of one device and hour
        OverlappingPeriods,   // two wear periods of one address or person share an hour
        MalformedKeys,        // rows of a table whose time key is no time (their count and a few)
    };

    Kind kind = DamagedFile;
    QString table;
    int slaveId = -1; // -1: the finding is not about one device
    QString key;      // "dataTime=20250101", "ID_card=…", empty for the file
    QString what;
    QString expected;
    QString stored;

    // "Monthdata slaveId=5 dataTime=20250101: 累计与读数之和不符：应为 3.750，实为 3.000": where, in
    // the table's own words, then what is wrong.
    QString line() const
    {
        QStringList where{table};
        if (slaveId >= 0)
            where << QStringLiteral("slaveId=%1").arg(slaveId);
        if (!key.isEmpty())
            where << key;
        return QStringLiteral("%1: %2：应为 %3，实为 %4").arg(where.join(QLatin1Char(' ')), what, expected, stored);
    }
};
