// dosectl's entry point: a plain Qt application, or an offscreen GUI one when a report needs its fonts.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

#include "cli/DoseCtl.h"
#include "core/ChineseTranslation.h"

int main(int argc, char* argv[])
{
    // The reports lay out text in fonts, which takes the GUI half of Qt;
    // nothing is ever shown, so they need no display either.
    bool report = false;
    for (int i = 1; i < argc; ++i)
        report = report || qstrcmp(argv[i], "report") == 0;
    // The GUI half looks into the session's runtime folder as it starts, and
    // warns on standard error where there is none (cron, su, a service). Such
    // a run gets a private one of its own, gone when it ends.
    std::unique_ptr<QTemporaryDir> runtime;
    if (report && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        runtime = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/dosectl-runtime-XXXXXX"));
        if (runtime->isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
    }
    std::unique_ptr<QCoreApplication> app;
    if (report) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("dosectl"));
    // Qt's own words in the usage and its option errors.
    ChineseTranslation::install(*app);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    return DoseCtl(out, err).run(QCoreApplication::arguments());
}
