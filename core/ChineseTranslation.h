#pragma once

// Qt's own words (OK, Cancel, Save, the file dialogs, dosectl's usage and option errors) in Chinese, whatever the locale.

class QCoreApplication;

class ChineseTranslation
{
public:
    // Loads Qt's zh_CN translations into app and makes Chinese the default
    // locale for dates and numbers shown. False (and the program goes on in
    // Qt's English) when the translations are not installed.
    static bool install(QCoreApplication& app);
};
