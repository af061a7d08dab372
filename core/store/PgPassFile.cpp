// The PostgreSQL password file read and rewritten, one escaped line per host, port, database and user.

#include "core/store/PgPassFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

QString PgPassFile::path()
{
    const QString named = qEnvironmentVariable("PGPASSFILE");
    if (!named.isEmpty())
        return named;
    return QDir::home().filePath(QStringLiteral(".pgpass"));
}

QString PgPassFile::host(const StoreConfig& store)
{
    // libpq looks a socket connection (no host, or a socket directory) up
    // as "localhost".
    const QString host = store.host.trimmed();
    return host.isEmpty() || host.startsWith(QLatin1Char('/')) ? QStringLiteral("localhost") : host;
}

QString PgPassFile::escape(const QString& field)
{
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        if (c == QLatin1Char(':') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

QStringList PgPassFile::fields(const QString& line)
{
    QStringList out{QString()};
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size())
            out.last() += line.at(++i);
        else if (c == QLatin1Char(':'))
            out.append(QString());
        else
            out.last() += c;
    }
    return out;
}

QString PgPassFile::line(const StoreConfig& store, const QString& password)
{
    const QStringList key{host(store), QString::number(store.port), store.name, store.user, password};
    QStringList escaped;
    for (const QString& field : key)
        escaped << escape(field);
    return escaped.join(QLatin1Char(':'));
}

bool PgPassFile::save(const QString& file, const StoreConfig& store, const QString& password, QString* error)
{
    const QStringList key{host(store), QString::number(store.port), store.name, store.user};
    // A line break has no escape in the file: it would end the line there
    // and leave the rest as a line of its own.
    for (const QString& field : key + QStringList{password}) {
        if (field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'))) {
            if (error)
                *error = field == password ? QStringLiteral("密码中不能有换行符")
                                           : QStringLiteral("主机、数据库名或用户名中不能有换行符");
            return false;
        }
    }
    const QString own = line(store, password);

    QStringList lines;
    QFile old(file);
    if (old.exists()) {
        if (!old.open(QIODevice::ReadOnly | QIODevice::Text)) {
            if (error)
                *error = QStringLiteral("无法读取 %1：%2").arg(file, old.errorString());
            return false;
        }
        lines = QString::fromUtf8(old.readAll()).split(QLatin1Char('\n'));
        old.close();
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
    }

    QStringList kept;
    bool replaced = false;
    for (const QString& l : qAsConst(lines)) {
        if (l.startsWith(QLatin1Char('#')) || fields(l).mid(0, 4) != key) {
            kept << l;
        } else if (!replaced) {
            // Where the old line stood; a second one of the same key would
            // never be read (libpq takes the first) and goes.
            kept << own;
            replaced = true;
        }
    }
    if (!replaced)
        kept << own;

    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)
        || !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        if (error)
            *error = QStringLiteral("无法写入 %1：%2").arg(file, out.errorString());
        return false;
    }
    out.write((kept.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    if (!out.commit()) {
        if (error)
            *error = QStringLiteral("无法写入 %1：%2").arg(file, out.errorString());
        return false;
    }
    return true;
}
