#pragma once

// The query dialog's rows as the officer reads them: times as dates, not keys.

#include <QSqlQueryModel>

// The rows of a reading query (time key, name, department, address, dose)
// with the time column shown as "2026-11-30 14:00", "2026-11-30" or
// "2026-11"; every other role and column as the query gives it.
class ReadingTableModel : public QSqlQueryModel
{
public:
    using QSqlQueryModel::QSqlQueryModel;
    QVariant data(const QModelIndex& item, int role = Qt::DisplayRole) const override;
};
