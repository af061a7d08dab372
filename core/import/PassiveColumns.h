#pragma once

// Where a laboratory file keeps each figure of a passive dosimeter's result: its columns found by their headers (Chinese
// or English) or by a mapping file, and the unit of its dose columns.

#include <QString>
#include <QStringList>

class PassiveColumns
{
public:
    enum Field { Id, Name, Start, End, Hp10, Hp007, Code, FieldCount };

    // Reads a mapping file (INI, UTF-8): group [columns] names the header of
    // id, name, start, end, hp10, hp007, code, and may give unit (mSv, μSv,
    // uSv) and encoding. False with why when it cannot be read or is wrong.
    bool loadMapping(const QString& path, QString* why);
    QString encoding() const { return textEncoding; }

    // Finds the columns in a header row. False with why, naming what is
    // missing, twice there or of an unknown unit.
    bool locate(const QStringList& header, QString* why);
    int column(Field f) const { return columns[f]; }
    // What a figure of a dose column is multiplied by to give μSv.
    double toMicroSievert(Field f) const { return factors[f]; }

    // The field a header names on its own, -1 for none; unit gets the
    // header's unit ("mSv", "μSv" or empty).
    static int recognise(const QString& header, QString* unit = nullptr);
    static QString describe(Field f);

private:
    QString mapped[FieldCount];
    QString mappedUnit;
    QString textEncoding;
    int columns[FieldCount] = {-1, -1, -1, -1, -1, -1, -1};
    double factors[FieldCount] = {1, 1, 1, 1, 1000, 1000, 1};
};
