#pragma once

// The options by which a dosectl document command names its file: --pdf, --xlsx and --force.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include "core/export/OutputFile.h"
#include "core/export/ReportDocument.h"
#include "core/export/ReportWorkbook.h"

// --pdf FILE or --xlsx FILE, one of them; --force to replace an earlier
// file. Any document ReportDocument and ReportWorkbook both write can go
// through write().
struct DocumentOutput
{
    QCommandLineOption pdf{QStringLiteral("pdf"), QStringLiteral("写成 PDF 文件"), QStringLiteral("FILE")};
    QCommandLineOption xlsx{QStringLiteral("xlsx"), QStringLiteral("写成 Excel 工作簿（.xlsx）"), QStringLiteral("FILE")};
    QCommandLineOption force{QStringLiteral("force"), QStringLiteral("覆盖已存在的 FILE（数据库文件从不覆盖）")};
    QCommandLineOption db{QStringLiteral("db"), QStringLiteral("数据库文件"), QStringLiteral("PATH")};

    // Whether a file was asked for at all.
    bool wanted(const QCommandLineParser& p) const { return p.isSet(pdf) || p.isSet(xlsx); }
    OutputFile::Format format(const QCommandLineParser& p) const
    {
        return p.isSet(pdf) ? OutputFile::Format::Pdf : OutputFile::Format::Xlsx;
    }
    // What makes the command line wrong: the options, or the file's ending.
    QString problem(const QCommandLineParser& p) const
    {
        if (p.isSet(pdf) == p.isSet(xlsx))
            return QStringLiteral("请给出 --pdf FILE 或 --xlsx FILE，只给一个");
        return OutputFile::endingProblem(p.value(p.isSet(pdf) ? pdf : xlsx), format(p));
    }
    // The file, kept clear of the register at database (empty: on a server).
    OutputFile::Target target(const QCommandLineParser& p, const QString& database) const
    {
        return {p.value(p.isSet(pdf) ? pdf : xlsx), p.isSet(force), database};
    }
    // Empty when the document was written, else why not.
    template <typename Document>
    QString write(const OutputFile::Target& target, const QCommandLineParser& p, const Document& document) const
    {
        QString why;
        const bool ok = p.isSet(pdf) ? ReportDocument::writePdf(document, target, &why)
                                     : ReportWorkbook::write(document, target, &why);
        return ok ? QString() : why;
    }
};
