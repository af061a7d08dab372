#include "core/time/TimeKey.h"

QString TimeKey::of(const QDateTime& t)
{
    return t.toString(QLatin1String(kFormat));
}

QString TimeKey::hourOf(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyyMMddhh")) + QStringLiteral("0000");
}

QDateTime TimeKey::parse(const QString& key)
{
    return QDateTime::fromString(key, QLatin1String(kFormat));
}
