#include "app/AppMain.h"

#include <QApplication>
#include <QMessageBox>

#include "QsLog/QsLog.h"
#include "app/SettingsAdpater.h"
#include "db/DataBase.h"
#include "query/XlsSqlDriver.h"
#include "ui/MainWindow.h"

QString openStore(QSettings& settings, std::unique_ptr<DataBase>& database)
{
    // When the store cannot be used the program starts empty and says why,
    // rather than fall back to some local file that holds part of the truth.
    StoreConfig store;
    QString refusal;
    if (!StoreConfig::read(settings, store, &refusal))
        store.driver.clear();
    database = std::make_unique<DataBase>(store);
    if (refusal.isEmpty() && !database->isOpen())
        refusal = QStringLiteral("无法连接数据库 %1：\n%2").arg(store.describe(), database->openError());
    if (!refusal.isEmpty()) {
        QLOG_ERROR() << refusal;
        return refusal;
    }
    database->createTables();
    database->createAddedTables();
    return QString();
}

int appMain(int& argc, char** argv, const std::function<void(MainWindow*)>& onShown)
{
    // The order matters: the main window opens its own connection and reads
    // the settings records in its constructor.
    QApplication app(argc, argv);
    SettingsAdpater settings(QStringLiteral("zudovi.ini"), QSettings::IniFormat);

    QsLogging::Logger& logger = QsLogging::Logger::instance();
    logger.setLoggingLevel(QsLogging::TraceLevel);
    QsLogging::DestinationPtr fileDestination =
        QsLogging::makeFileDestination(QStringLiteral("./log.txt"), true, 2097152, 1000);
    QsLogging::DestinationPtr debugDestination = QsLogging::makeDebugOutputDestination();
    logger.addDestination(debugDestination);
    logger.addDestination(fileDestination);

    // Workbooks are written through the "QODBC" driver name; on this platform
    // our own workbook writer answers to it.
    XlsSqlDriver::registerAsOdbc();

    std::unique_ptr<DataBase> database;
    const QString refusal = openStore(settings, database);
    if (!refusal.isEmpty())
        QMessageBox::critical(nullptr, QStringLiteral("数据库"), refusal + QStringLiteral("\n\n登记和数据将显示为空。"));

    int status = 0;
    {
        MainWindow window(nullptr, &settings, database.get());
        window.show();
        window.startAutomaticBackup();
        if (onShown)
            onShown(&window);
        status = app.exec();
    }
    return status;
}
