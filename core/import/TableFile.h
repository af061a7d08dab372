#pragma once

// A table read out of a laboratory's file as rows of text with their line numbers: what the CSV and workbook readers share.

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The rows of a file, each with the line it has there (a CSV file's physical
// line where the record starts, a sheet's row number), counted from 1. Rows
// with no text at all are left out. Every reason is in words for the officer.
class TableFile
{
public:
    struct Row
    {
        int line = 0;
        QStringList cells;
    };

    virtual ~TableFile();

    // Reads the file's bytes; false with why when they are no table of this kind.
    virtual bool read(const QByteArray& bytes, QList<Row>& rows, QString* why) = 0;
    // Workbooks keep dates as serial numbers: a number in a date column is one.
    virtual bool workbook() const { return false; }

    // The reader for a file by its ending: .xls, .xlsx, anything else CSV;
    // encoding (a codec's name) forces the text encoding of a CSV file.
    static std::unique_ptr<TableFile> forName(const QString& fileName, const QString& encoding = QString());
    // The day of a spreadsheet's serial date (1900 system); invalid below 61,
    // where the spreadsheet counts a day that never was, and beyond 9999.
    static QDate serialDate(double serial);
};
