#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>

// The logic of one simulated dosimeter: an address, up to 65535 stored
// hourly records of 7 bytes, and the answers to the three requests. It sees
// the request bytes as the device would, without framing: feed() collects
// them and answers every complete request addressed to it.
class SimDosimeter
{
public:
    enum class DosePattern { Flat, Daily, Ramp };

    static constexpr int kMaxRecords = 65535;

    explicit SimDosimeter(int address = 1);

    int address() const { return addr; }
    void setAddress(int address) { addr = address & 0xffff; }

    // Dose in μSv, stored in hundredths (0..65535).
    bool addRecord(const QDateTime& hour, double doseMicroSv, quint8 extra = 0);
    bool addRawRecord(const QByteArray& record);
    const QVector<QByteArray>& records() const { return stored; }
    int recordCount() const { return stored.size(); }
    void clearRecords() { stored.clear(); }

    // Lines "yyyy-MM-dd hh dose_uSv"; blank lines and lines starting with
    // '#' are skipped. Returns false with a message on the first bad line.
    bool loadRecords(const QString& fileName, QString* error = nullptr);
    // One record per hour from the first hour of from to the last of to.
    int generate(const QDate& from, const QDate& to, DosePattern pattern, double dose);
    static bool parsePattern(const QString& text, DosePattern* pattern);

    // Takes request bytes, returns the reply bytes (empty when none is due).
    QByteArray feed(const QByteArray& bytes);
    QByteArray dataReply() const;
    // Bytes of an incomplete request kept for the next feed.
    int pendingInput() const { return inbox.size(); }

    static QByteArray makeRecord(const QDateTime& hour, double doseMicroSv, quint8 extra = 0);
    static QByteArray makeRecord(int year, int month, int day, int hour, int doseHundredths,
                                 quint8 extra = 0);
    static QByteArray word(int value);

private:
    int addr = 1;
    QVector<QByteArray> stored;
    QByteArray inbox;
};
