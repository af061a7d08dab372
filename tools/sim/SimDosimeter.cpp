#include "sim/SimDosimeter.h"

#include <cmath>

#include <QFile>
#include <QStringList>
#include <QTextStream>

namespace {

char bcd(int value)
{
    value = qBound(0, value, 99);
    return char(((value / 10) << 4) | (value % 10));
}

int toHundredths(double doseMicroSv)
{
    return qBound(0, int(std::lround(doseMicroSv * 100.0)), 65535);
}

} // namespace

SimDosimeter::SimDosimeter(int address) : addr(address & 0xffff) {}

QByteArray SimDosimeter::word(int value)
{
    QByteArray bytes;
    bytes.append(char(value & 0xff));
    bytes.append(char((value >> 8) & 0xff));
    return bytes;
}

QByteArray SimDosimeter::makeRecord(int year, int month, int day, int hour, int doseHundredths,
                                    quint8 extra)
{
    QByteArray record;
    record.append(bcd(year % 100));
    record.append(bcd(month));
    record.append(bcd(day));
    record.append(bcd(hour));
    record.append(char(extra));
    record.append(word(qBound(0, doseHundredths, 65535)));
    return record;
}

QByteArray SimDosimeter::makeRecord(const QDateTime& hour, double doseMicroSv, quint8 extra)
{
    const QDate d = hour.date();
    return makeRecord(d.year(), d.month(), d.day(), hour.time().hour(), toHundredths(doseMicroSv),
                      extra);
}

bool SimDosimeter::addRecord(const QDateTime& hour, double doseMicroSv, quint8 extra)
{
    return addRawRecord(makeRecord(hour, doseMicroSv, extra));
}

bool SimDosimeter::addRawRecord(const QByteArray& record)
{
    if (record.size() != 7 || stored.size() >= kMaxRecords)
        return false;
    stored.append(record);
    return true;
}

bool SimDosimeter::loadRecords(const QString& fileName, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot open %1").arg(fileName);
        return false;
    }
    QTextStream in(&file);
    int lineNo = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        ++lineNo;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool hourOk = false;
        bool doseOk = false;
        const QDate date = parts.size() == 3 ? QDate::fromString(parts.at(0), QStringLiteral("yyyy-MM-dd"))
                                             : QDate();
        const int hour = parts.size() == 3 ? parts.at(1).toInt(&hourOk) : -1;
        const double dose = parts.size() == 3 ? parts.at(2).toDouble(&doseOk) : -1;
        if (!date.isValid() || !hourOk || hour < 0 || hour > 23 || !doseOk || dose < 0) {
            if (error)
                *error = QStringLiteral("%1:%2: expected \"yyyy-MM-dd hh dose_uSv\"").arg(fileName).arg(lineNo);
            return false;
        }
        if (!addRecord(QDateTime(date, QTime(hour, 0)), dose)) {
            if (error)
                *error = QStringLiteral("%1: more than %2 records").arg(fileName).arg(kMaxRecords);
            return false;
        }
    }
    return true;
}

bool SimDosimeter::parsePattern(const QString& text, DosePattern* pattern)
{
    if (text == QLatin1String("flat"))
        *pattern = DosePattern::Flat;
    else if (text == QLatin1String("daily"))
        *pattern = DosePattern::Daily;
    else if (text == QLatin1String("ramp"))
        *pattern = DosePattern::Ramp;
    else
        return false;
    return true;
}

int SimDosimeter::generate(const QDate& from, const QDate& to, DosePattern pattern, double dose)
{
    int added = 0;
    for (QDate day = from; day.isValid() && day <= to; day = day.addDays(1)) {
        for (int hour = 0; hour < 24; ++hour) {
            double value = dose;
            switch (pattern) {
            case DosePattern::Flat:
                break;
            case DosePattern::Daily:
                // Working hours carry the dose, the rest only background.
                value = (hour >= 8 && hour < 18) ? dose : dose * 0.1;
                break;
            case DosePattern::Ramp:
                value = dose * double(added % 100 + 1) / 100.0;
                break;
            }
            if (!addRecord(QDateTime(day, QTime(hour, 0)), value))
                return added;
            ++added;
        }
    }
    return added;
}

QByteArray SimDosimeter::dataReply() const
{
    QByteArray reply = word(addr) + word(stored.size());
    reply.reserve(4 + 7 * stored.size());
    for (const QByteArray& record : stored)
        reply.append(record);
    return reply;
}

QByteArray SimDosimeter::feed(const QByteArray& bytes)
{
    static const QByteArray readText("read");
    static const QByteArray clearText("clear");
    static const QByteArray setidText("setid");

    inbox.append(bytes);
    QByteArray out;
    for (;;) {
        // The earliest request text that has its two address bytes before it.
        int pos = -1;
        const QByteArray* which = nullptr;
        for (const QByteArray* text : {&readText, &clearText, &setidText}) {
            const int p = inbox.indexOf(*text, 2);
            if (p >= 0 && (pos < 0 || p < pos)) {
                pos = p;
                which = text;
            }
        }
        if (pos < 0) {
            // Keep only what could still begin a request.
            if (inbox.size() > 6)
                inbox = inbox.right(6);
            break;
        }
        const int address = quint8(inbox.at(pos - 2)) | (quint8(inbox.at(pos - 1)) << 8);
        int end = pos + which->size();
        if (which == &setidText) {
            if (inbox.size() < end + 2) {
                inbox.remove(0, pos - 2);
                break;
            }
            const int newAddress = quint8(inbox.at(end)) | (quint8(inbox.at(end + 1)) << 8);
            end += 2;
            if (address == addr) {
                addr = newAddress;
                out.append(word(addr) + QByteArrayLiteral("setid ok"));
            }
        } else if (which == &clearText) {
            if (address == addr) {
                stored.clear();
                out.append(word(addr) + QByteArrayLiteral("clear ok"));
            }
        } else if (address == 0xffff || address == addr) {
            out.append(dataReply());
        }
        inbox.remove(0, end);
    }
    return out;
}
