// dosectl's entry point: a plain Qt application, or an offscreen GUI one when a report needs its fonts.

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <memory>

#include "cli/DoseCtl.h"

int main(int argc, char* argv[])
{
    // The reports lay out text in fonts, which takes the GUI half of Qt;
    // nothing is ever shown, so they need no display either.
    bool report = false;
    for (int i = 1; i < argc; ++i)
        report = report || qstrcmp(argv[i], "report") == 0;
    std::unique_ptr<QCoreApplication> app;
    if (report) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("dosectl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    return DoseCtl(out, err).run(QCoreApplication::arguments());
}
