#pragma once

#include <QString>

#include <functional>

// Writes a document people keep: produce() fills a temporary file beside
// path, which takes path's name only once it is complete, so a refused or
// failed run never leaves a partial file under that name.
class ReportFile
{
public:
    using Produce = std::function<bool(const QString& temporaryPath, QString* why)>;
    static bool write(const QString& path, const Produce& produce, QString* why);
};
