// The register's "yyyyMMddhhmmss" time keys made, parsed and shown.

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

QString TimeKey::readable(const QString& key)
{
    static const struct
    {
        int length;
        const char* keyFormat;
        const char* shownFormat;
    } kinds[] = {{14, "yyyyMMddhhmmss", "yyyy-MM-dd hh:mm"}, {8, "yyyyMMdd", "yyyy-MM-dd"}, {6, "yyyyMM", "yyyy-MM"}};
    for (const auto& kind : kinds) {
        if (key.size() != kind.length)
            continue;
        const QDateTime t = QDateTime::fromString(key, QLatin1String(kind.keyFormat));
        return t.isValid() ? t.toString(QLatin1String(kind.shownFormat)) : key;
    }
    return key;
}

QString TimeKey::shown(const QString& key, const QString& none, const QString& format)
{
    if (key.isEmpty())
        return none;
    if (key == QLatin1String(kBeginning))
        return QStringLiteral("最初");
    const QDateTime t = parse(key);
    return t.isValid() ? t.toString(format) : key;
}
