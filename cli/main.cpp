#include <QCoreApplication>
#include <QTextStream>

#include "cli/DoseCtl.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dosectl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    return DoseCtl(out, err).run(QCoreApplication::arguments());
}
