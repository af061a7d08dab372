#pragma once

// Writes the OLE2 compound file container that .xls workbooks live in: a
// header, 512-byte sectors chained through a FAT (extended by DIFAT sectors
// once the FAT outgrows the header), a directory of named streams, and a mini
// stream of 64-byte sectors for streams under 4096 bytes.
//
// Only streams directly under the root storage are written, which is all a
// workbook needs, in a version 3 file.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>

class CompoundFile
{
public:
    struct Stream
    {
        QString name;
        QByteArray data;
    };

    static constexpr int kSectorSize = 512;
    static constexpr int kMiniSectorSize = 64;
    static constexpr int kMiniStreamCutoff = 4096;
    static constexpr int kHeaderDifatEntries = 109;

    static constexpr uint32_t kFreeSect = 0xFFFFFFFFu;
    static constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
    static constexpr uint32_t kFatSect = 0xFFFFFFFDu;
    static constexpr uint32_t kDifSect = 0xFFFFFFFCu;
    static constexpr uint32_t kNoStream = 0xFFFFFFFFu;

    // Builds a complete file holding the given streams under the root.
    // Names must be unique (case-insensitively) and at most 31 characters.
    static bool build(const QVector<Stream>& streams, QByteArray* out, QString* error);
};
