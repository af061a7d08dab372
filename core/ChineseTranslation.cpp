// Installs Qt's Chinese translations for the program and dosectl.
#include "core/ChineseTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "core/log/QsLog.h"

bool ChineseTranslation::install(QCoreApplication& app)
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    // qtbase: the standard buttons, message boxes and file dialogs.
    auto* translator = new QTranslator(&app);
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
        QLOG_WARN() << "Qt's Chinese translations are missing in" << folder << "(package qttranslations5-l10n)";
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    return true;
}
