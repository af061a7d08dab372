#pragma once

// One row of the table "PassiveImport": a laboratory's file as it was received, with its hash and who imported it.

#include <QByteArray>
#include <QString>

struct PassiveImportdata
{
    int id = 0;
    QString fileName;
    QString sha256; // lower-case hex of content
    QString importedBy;
    QString importedAt; // "yyyy-MM-dd hh:mm:ss"
    int rows = 0;
    QByteArray content;
};
