#include "sim/SampleData.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QtMath>

#include "core/DataBase.h"
#include "core/readings/mydeal_thread.h"
#include "sim/SimDosimeter.h"

namespace {

struct Person
{
    const char* idCard;
    const char* name;
    const char* gender;
    int ptype;
    const char* department;
    int device; // 0: no dosimeter
};

const Person kPeople[] = {
    {"110101198001010011", "张伟", "男", 0, "放射科", 5},
    {"110101198502020022", "王芳", "女", 0, "放射科", 6},
    {"110101199003030033", "李强", "男", 1, "放射科", 0},
    {"110101197804040044", "刘洋", "男", 0, "核医学科", 7},
    {"110101199205050055", "陈静", "女", 1, "核医学科", 8},
    {"110101198806060066", "赵磊", "男", 0, "介入治疗科", 9},
};

QByteArray portrait(int index, bool female)
{
    QImage image(90, 110, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((index * 57) % 360, 40, 235));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(female ? QColor(150, 60, 90) : QColor(50, 70, 120));
    p.drawEllipse(QRect(15, 70, 60, 70));
    p.setBrush(QColor(240, 200, 170));
    p.drawEllipse(QRect(27, 20, 36, 44));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

QByteArray SampleData::readReply(int address, const QDateTime& from, int hours, int seed)
{
    SimDosimeter device(address);
    for (int h = 0; h < hours; ++h) {
        const QDateTime t = from.addSecs(3600LL * h);
        // Working hours carry most of the dose, with a slow seasonal swing.
        const int hour = t.time().hour();
        const double base = (hour >= 8 && hour < 17) ? 1.2 : 0.15;
        const double swing = 1.0 + 0.4 * qSin((t.date().dayOfYear() + seed * 40) / 58.0);
        device.addRecord(t, base * swing * (1.0 + 0.1 * ((h * 7 + seed) % 5)));
    }
    return device.dataReply();
}

bool SampleData::fill(DataBase* database, SettingsAdpater* settings, const QDateTime& now)
{
    const QString conn = QStringLiteral("sample.db");
    database->createConnection(conn);
    QSqlDatabase db = database->getConnection(conn);
    database->openConnection(conn);
    bool ok = true;
    for (const char* name : {"放射科", "核医学科", "介入治疗科"}) {
        Departdata d;
        d.department = QString::fromUtf8(name);
        d.dname = QString::fromUtf8("主任");
        ok = database->insertDepartment(d, db) && ok;
    }
    int index = 0;
    for (const Person& person : kPeople) {
        Staffdata s;
        s.ID_card = QString::fromUtf8(person.idCard);
        s.name = QString::fromUtf8(person.name);
        s.gender = QString::fromUtf8(person.gender);
        s.ptype = person.ptype;
        s.department = QString::fromUtf8(person.department);
        s.teleNo = QStringLiteral("0000-0000000");
        s.adress = QString::fromUtf8("本院");
        s.photo = portrait(index++, s.gender == QString::fromUtf8("女"));
        ok = database->insertStaff(s, db) && ok;
        if (person.device) {
            Devicedata dev;
            dev.slaveId = person.device;
            dev.ID_card = s.ID_card;
            dev.dataTime = QStringLiteral("00000000000000");
            // Worn from the beginning: the sample readings are all theirs.
            ok = database->addDeviceBinding(dev, QStringLiteral("20000101000000"), nullptr, db) && ok;
        }
    }
    database->closeConnection(conn);

    // The readings go through the same storage as a synchronisation.
    mydeal_thread storage(nullptr, database, settings);
    bool stored = true;
    const QDateTime end(now.date(), QTime(now.time().hour(), 0));
    const QDateTime from = end.addYears(-1);
    const int hours = int(from.secsTo(end) / 3600);
    int seed = 0;
    for (const Person& person : kPeople) {
        if (!person.device)
            continue;
        // Later persons started wearing their dosimeter later in the year.
        const int skip = (seed * hours) / 8;
        stored = storage.store(QString::fromLatin1(
                     readReply(person.device, from.addSecs(3600LL * skip), hours - skip, seed).toHex()))
            && stored;
        ++seed;
    }
    return ok && stored;
}
