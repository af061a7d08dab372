// The reader picked for a laboratory file by its ending, and the serial dates of spreadsheets.

#include "core/import/TableFile.h"

#include <QFileInfo>

#include <cmath>

#include "core/import/CsvTable.h"
#include "core/import/XlsTable.h"
#include "core/import/XlsxTable.h"

TableFile::~TableFile() = default;

std::unique_ptr<TableFile> TableFile::forName(const QString& fileName, const QString& encoding)
{
    const QString ending = QFileInfo(fileName).suffix().toLower();
    if (ending == QLatin1String("xls"))
        return std::make_unique<XlsTable>();
    if (ending == QLatin1String("xlsx"))
        return std::make_unique<XlsxTable>();
    return std::make_unique<CsvTable>(encoding);
}

QDate TableFile::serialDate(double serial)
{
    if (!std::isfinite(serial) || serial < 61 || serial >= 2958466)
        return QDate();
    return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(serial)));
}
