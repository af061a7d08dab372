#pragma once

// A workbook read back with FreeXL, which shares no code with our writer:
// every sheet's name and cells, text cells as their text, empty cells as
// empty text and any other cell as "<non-text TYPE>", so that a value
// written as a number never passes for the same text.
// Programs using it link freexl.

#include <QString>
#include <QStringList>
#include <QVector>

class FreeXlReader
{
public:
    struct Sheet
    {
        QString name;
        QVector<QStringList> rows; // row 0 is the column-name row
    };

    explicit FreeXlReader(const QString& path) { sheets = read(path, &error); }
    // The sheets read; *error is set when FreeXL refuses the file or a part of it.
    static QVector<Sheet> read(const QString& path, QString* error);

    QStringList names() const;
    QVector<QStringList> rows(const QString& sheet) const;

    QString error;
    QVector<Sheet> sheets;
};
