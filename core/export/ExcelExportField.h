#pragma once

#include <QString>

// One exported column: where it comes from in the source model and how the
// worksheet calls and types it ("char" or "real").
struct ExcelExportField
{
    int column = 0;
    QString name;
    QString type;
};
