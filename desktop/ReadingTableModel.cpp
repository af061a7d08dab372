// The query dialog's table model: time keys shown as dates.
#include "desktop/ReadingTableModel.h"

#include "core/time/TimeKey.h"

QVariant ReadingTableModel::data(const QModelIndex& item, int role) const
{
    const QVariant value = QSqlQueryModel::data(item, role);
    if (role == Qt::DisplayRole && item.column() == 0)
        return TimeKey::readable(value.toString());
    return value;
}
