#include "core/export/XlsSqlDriver.h"

#include "core/export/XlsSqlResult.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriverCreator>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QtDebug>

#include <algorithm>

const char* const XlsSqlDriver::kDriverName = "QODBC";

namespace {

// KEY=value pairs separated by ';'. Values may be wrapped in {}, "" or ''
// so that they can hold ';'. Keys are returned upper-cased.
bool parsePairs(const QString& s, QHash<QString, QString>* pairs, QString* error)
{
    int i = 0;
    const int n = s.size();
    while (i < n) {
        while (i < n && (s.at(i).isSpace() || s.at(i) == QLatin1Char(';')))
            ++i;
        if (i >= n)
            break;
        const int eq = s.indexOf(QLatin1Char('='), i);
        const int semi = s.indexOf(QLatin1Char(';'), i);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            *error = QStringLiteral("connection string item \"%1\" has no '='")
                         .arg(s.mid(i, semi < 0 ? -1 : semi - i).trimmed());
            return false;
        }
        const QString key = s.mid(i, eq - i).trimmed().toUpper();
        i = eq + 1;
        while (i < n && s.at(i) == QLatin1Char(' '))
            ++i;
        QString value;
        const QChar open = i < n ? s.at(i) : QChar();
        if (open == QLatin1Char('{') || open == QLatin1Char('"') || open == QLatin1Char('\'')) {
            const QChar close = open == QLatin1Char('{') ? QLatin1Char('}') : open;
            const int end = s.indexOf(close, i + 1);
            if (end < 0) {
                *error = QStringLiteral("connection string value of %1 is not closed").arg(key);
                return false;
            }
            value = s.mid(i + 1, end - i - 1);
            i = end + 1;
            const int next = s.indexOf(QLatin1Char(';'), i);
            i = next < 0 ? n : next;
        } else {
            const int next = s.indexOf(QLatin1Char(';'), i);
            value = s.mid(i, next < 0 ? -1 : next - i).trimmed();
            i = next < 0 ? n : next;
        }
        pairs->insert(key, value);
    }
    return true;
}

bool isTrue(const QString& v)
{
    return v.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 || v == QLatin1String("1")
        || v.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0;
}

} // namespace

void XlsSqlDriver::registerAsOdbc()
{
    // QSqlDatabase owns the creator and deletes it at exit.
    static const bool registered = [] {
        QSqlDatabase::registerSqlDriver(QLatin1String(kDriverName), new QSqlDriverCreator<XlsSqlDriver>);
        return true;
    }();
    Q_UNUSED(registered)
}

XlsSqlDriver::XlsSqlDriver(QObject* parent) : QSqlDriver(parent) {}

XlsSqlDriver::~XlsSqlDriver()
{
    // A connection removed without close() must still leave a complete file.
    if (isOpen())
        close();
}

bool XlsSqlDriver::hasFeature(DriverFeature feature) const
{
    switch (feature) {
    case PreparedQueries:
    case PositionalPlaceholders:
    case Unicode:
        return true;
    default:
        return false;
    }
}

QString XlsSqlDriver::workbookPath(const QString& connectionString, QString* error)
{
    QHash<QString, QString> pairs;
    QString why;
    if (!parsePairs(connectionString, &pairs, &why)) {
        *error = why;
        return QString();
    }
    const QString driver = pairs.value(QStringLiteral("DRIVER"));
    if (!driver.contains(QLatin1String("Excel"), Qt::CaseInsensitive)) {
        *error = QStringLiteral("only Excel workbook connections are supported (DRIVER={Microsoft Excel Driver (*.xls)})");
        return QString();
    }
    const QString names = pairs.value(QStringLiteral("FIRSTROWHASNAMES"), QStringLiteral("1"));
    if (!isTrue(names)) {
        *error = QStringLiteral("only FIRSTROWHASNAMES=1 is supported");
        return QString();
    }
    QString path = pairs.value(QStringLiteral("DBQ"));
    if (path.isEmpty())
        path = pairs.value(QStringLiteral("CREATE_DB"));
    if (path.isEmpty()) {
        *error = QStringLiteral("the connection string names no workbook (DBQ=path)");
        return QString();
    }
    return path;
}

bool XlsSqlDriver::open(const QString& db, const QString&, const QString&, const QString&, int, const QString&)
{
    if (isOpen())
        close();
    auto fail = [this](const QString& why) {
        setLastError(QSqlError(why, QString(), QSqlError::ConnectionError));
        setOpenError(true);
        return false;
    };
    QString error;
    const QString path = workbookPath(db, &error);
    if (path.isEmpty())
        return fail(error);
    QHash<QString, QString> pairs;
    parsePairs(db, &pairs, &error);
    const bool readOnly = isTrue(pairs.value(QStringLiteral("READONLY")));

    // Opening the file now is how an unwritable place is found before the export starts.
    const bool existed = QFileInfo::exists(path);
    QFile file(path);
    if (!file.open(readOnly ? QIODevice::ReadOnly : QIODevice::ReadWrite))
        return fail(QStringLiteral("cannot %1 the workbook %2: %3")
                        .arg(existed || readOnly ? QStringLiteral("open") : QStringLiteral("create"), path,
                             file.errorString()));
    file.close();

    XlsWorkbook book;
    if (!book.load(path, &error)) {
        if (!existed)
            QFile::remove(path);
        return fail(error);
    }
    m_book = book;
    m_path = path;
    m_readOnly = readOnly;
    m_dirty = false;
    m_createdFile = !existed;
    m_everSaved = false;
    m_pendingInserts = 0;
    setOpen(true);
    setOpenError(false);
    return true;
}

void XlsSqlDriver::close()
{
    if (!isOpen())
        return;
    QString error;
    if (!flush(&error)) {
        qWarning() << "Excel workbook not saved:" << error;
        setLastError(QSqlError(error, QString(), QSqlError::ConnectionError));
    }
    // Opening created an empty file; nothing to keep if no sheet was ever made.
    if (m_createdFile && !m_everSaved && QFileInfo(m_path).size() == 0)
        QFile::remove(m_path);
    m_book = XlsWorkbook();
    m_path.clear();
    m_dirty = false;
    m_pendingInserts = 0;
    setOpen(false);
    setOpenError(false);
}

QSqlResult* XlsSqlDriver::createResult() const
{
    // The query that asked for it owns the result.
    return new XlsSqlResult(const_cast<XlsSqlDriver*>(this));
}

QStringList XlsSqlDriver::tables(QSql::TableType type) const
{
    if (!isOpen() || !(type & QSql::Tables))
        return QStringList();
    return m_book.sheetNames();
}

QSqlRecord XlsSqlDriver::record(const QString& tableName) const
{
    QSqlRecord rec;
    const int i = sheetIndex(tableName);
    if (i < 0)
        return rec;
    for (const QString& c : m_book.sheet(i).columns)
        rec.append(QSqlField(c, QVariant::String, tableName));
    return rec;
}

QString XlsSqlDriver::escapeIdentifier(const QString& identifier, IdentifierType) const
{
    if (identifier.startsWith(QLatin1Char('[')) && identifier.endsWith(QLatin1Char(']')))
        return identifier;
    QString inner = identifier;
    return QLatin1Char('[') + inner.replace(QLatin1Char(']'), QLatin1String("]]")) + QLatin1Char(']');
}

bool XlsSqlDriver::flush(QString* error)
{
    return !m_dirty || save(error);
}

int XlsSqlDriver::sheetIndex(const QString& name) const
{
    int i = m_book.indexOf(name);
    // "[Sheet$]" is how ODBC names the worksheet itself.
    if (i < 0 && name.endsWith(QLatin1Char('$')))
        i = m_book.indexOf(name.chopped(1));
    return i;
}

bool XlsSqlDriver::save(QString* error)
{
    if (m_book.sheetCount() == 0) {
        // No sheet left: a file Excel would open can't be written, so none stays.
        if (QFileInfo::exists(m_path) && !QFile::remove(m_path)) {
            *error = QStringLiteral("cannot remove the emptied workbook %1").arg(m_path);
            return false;
        }
    } else if (!m_book.save(m_path, error)) {
        return false;
    } else {
        m_everSaved = true;
    }
    m_dirty = false;
    m_pendingInserts = 0;
    return true;
}

bool XlsSqlDriver::dropSheet(const QString& name, QString* error)
{
    if (m_readOnly) {
        *error = QStringLiteral("the workbook is open read-only");
        return false;
    }
    const int i = sheetIndex(name);
    if (i < 0 || !m_book.removeSheet(m_book.sheet(i).name)) {
        *error = QStringLiteral("no sheet named \"%1\"").arg(name);
        return false;
    }
    m_dirty = true;
    return true;
}

bool XlsSqlDriver::createSheet(const QString& name, const QStringList& columns, QString* error)
{
    if (m_readOnly) {
        *error = QStringLiteral("the workbook is open read-only");
        return false;
    }
    if (!m_book.addSheet(name, columns, error))
        return false;
    m_dirty = true;
    return save(error);
}

bool XlsSqlDriver::insertRow(const QString& name, const QStringList& columns, const QStringList& values,
                             QString* error)
{
    if (m_readOnly) {
        *error = QStringLiteral("the workbook is open read-only");
        return false;
    }
    const int i = sheetIndex(name);
    if (i < 0) {
        *error = QStringLiteral("no sheet named \"%1\"").arg(name);
        return false;
    }
    const QStringList& sheetColumns = m_book.sheet(i).columns;
    QStringList cells;
    if (columns.isEmpty()) {
        if (values.size() > sheetColumns.size()) {
            *error = QStringLiteral("%1 values for the %2 columns of sheet \"%3\"")
                         .arg(values.size())
                         .arg(sheetColumns.size())
                         .arg(name);
            return false;
        }
        cells = values;
    } else {
        QVector<bool> used(sheetColumns.size(), false);
        cells.reserve(sheetColumns.size());
        for (int c = 0; c < sheetColumns.size(); ++c)
            cells.append(QString());
        for (int k = 0; k < columns.size(); ++k) {
            const QString wanted = columns[k].trimmed();
            int at = sheetColumns.indexOf(wanted);
            if (at < 0) {
                const auto it = std::find_if(sheetColumns.begin(), sheetColumns.end(), [&wanted](const QString& c) {
                    return c.trimmed().compare(wanted, Qt::CaseInsensitive) == 0;
                });
                at = it == sheetColumns.end() ? -1 : int(it - sheetColumns.begin());
            }
            if (at < 0) {
                *error = QStringLiteral("sheet \"%1\" has no column \"%2\"").arg(name, wanted);
                return false;
            }
            if (used[at]) {
                *error = QStringLiteral("column \"%1\" is listed twice").arg(wanted);
                return false;
            }
            used[at] = true;
            cells[at] = values.value(k);
        }
    }
    if (!m_book.appendRow(i, cells, error))
        return false;
    m_dirty = true;
    ++m_pendingInserts;
    if (m_pendingInserts >= std::max(kMinInsertBatch, m_book.totalRows() - m_pendingInserts))
        return save(error);
    return true;
}
