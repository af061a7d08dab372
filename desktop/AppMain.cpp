// Starting the desktop program: command line, data folder and its lock, the log, the store, then the main window.

#include "desktop/AppMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>

#include "core/log/QsLog.h"
#include "core/store/DataDir.h"
#include "core/store/DataFolderLock.h"
#include "core/device/SettingsAdpater.h"
#include "core/DataBase.h"
#include "core/store/RegisterFile.h"
#include "core/ChineseTranslation.h"
#include "desktop/MainWindow.h"

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
    if (!database->createTables() && !database->missingLayout().isEmpty()) {
        refusal = QStringLiteral("数据库 %1 缺少：%2\n须由数据库的所有者（首次启动程序或 dosectl migrate）建立。")
                      .arg(store.describe(), database->missingLayout().join(QStringLiteral("，")));
        QLOG_ERROR() << refusal;
        return refusal;
    }
    database->createAddedTables();
    return QString();
}

namespace {

const int kGoOn = -1;

// Reads the command line before anything else: kGoOn with *dataDir set
// (empty: the current directory), or the exit code when the usage or the
// version was asked for (0) or the command line is wrong (2). Neither
// needs a display.
int readCommandLine(int& argc, char** argv, QString* dataDir)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("个人剂量管理系统。不带 --data-dir 时, database.db、zudovi.ini、"
                                                    "log.txt 和 backup/ 都在当前目录。"));
    // Qt's own options are single-dash words, taken out by QApplication.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("显示版本"));
    const QCommandLineOption dir(QStringLiteral("data-dir"),
                                 QStringLiteral("数据文件夹 (不存在时以权限 0700 创建)"), QStringLiteral("DIR"));
    parser.addOptions({version, dir});
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "geometry",
                             "qwindowgeometry", "qwindowicon", "qwindowtitle", "title", "style", "stylesheet",
                             "session", "name"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("VALUE"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    const bool ok = parser.parse(arguments) && parser.positionalArguments().isEmpty();
    if (!ok || parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage takes the program's name from the application object.
        QCoreApplication core(argc, argv);
        QTextStream stream(ok ? stdout : stderr);
        stream.setCodec("UTF-8");
        if (!ok && parser.errorText().isEmpty())
            stream << "dosemanager: unexpected argument: " << parser.positionalArguments().value(0) << '\n';
        else if (!ok)
            stream << "dosemanager: " << parser.errorText() << '\n';
        stream << parser.helpText();
        return ok ? 0 : 2;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << "dosemanager " << DOSE_VERSION << '\n';
        return 0;
    }
    *dataDir = parser.value(dir);
    return kGoOn;
}

// Why the SQLite file the settings name cannot be the register; empty when
// it can, or when there is none yet (or the store is a server).
QString unusableFile(QSettings& settings)
{
    StoreConfig store;
    if (!StoreConfig::read(settings, store) || store.isShared())
        return QString();
    const QFileInfo file(store.path);
    if (!file.exists() && !file.isSymLink())
        return QString();
    const QString problem = RegisterFile::problem(store.path);
    return problem.isEmpty() ? QString()
                             : QStringLiteral("无法使用数据库文件 %1:\n%2").arg(file.absoluteFilePath(), problem);
}

} // namespace

int appMain(int& argc, char** argv, const std::function<void(MainWindow*)>& onShown)
{
    QString dataDir;
    if (const int code = readCommandLine(argc, argv, &dataDir); code != kGoOn)
        return code;

    // The order matters: the main window opens its own connection and reads
    // the settings records in its constructor.
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("dosemanager"));
    ChineseTranslation::install(app);
    // Every file below is opened relative to the data folder, so it is
    // settled before any of them.
    if (!dataDir.isEmpty()) {
        QString problem = DataDir::prepare(dataDir, true);
        if (problem.isEmpty() && !QDir::setCurrent(dataDir))
            problem = QStringLiteral("无法进入文件夹 ") + dataDir;
        if (!problem.isEmpty()) {
            QTextStream err(stderr);
            err.setCodec("UTF-8");
            err << "dosemanager: " << problem << '\n';
            err.flush();
            QMessageBox::critical(nullptr, QStringLiteral("个人剂量管理系统"),
                                  QStringLiteral("无法使用数据文件夹 %1:\n%2").arg(dataDir, problem));
            return 1;
        }
    }
    // One program per data folder: a second one would poll the same ports
    // and write the same log. Nothing of the folder is touched before.
    DataFolderLock lock(QDir::currentPath());
    if (QString held; !lock.tryLock(&held)) {
        QTextStream err(stderr);
        err.setCodec("UTF-8");
        err << "dosemanager: " << held << '\n';
        err.flush();
        QMessageBox::critical(nullptr, QStringLiteral("个人剂量管理系统"), held + QStringLiteral("\n\n请等它关闭后再启动本程序。"));
        return 1;
    }
    SettingsAdpater settings(QStringLiteral("zudovi.ini"), QSettings::IniFormat);
    // A database is made only where no file is: an empty, damaged or foreign
    // one is left as it is, before anything (the log included) is written.
    if (const QString problem = unusableFile(settings); !problem.isEmpty()) {
        QTextStream err(stderr);
        err.setCodec("UTF-8");
        err << "dosemanager: " << problem << '\n';
        err.flush();
        QMessageBox::critical(nullptr, QStringLiteral("数据库"),
                              QStringLiteral("%1\n\n程序不会使用或改动这个文件。请用 dosectl restore 从备份恢复它, "
                                             "或把它移走后再启动。")
                                  .arg(problem));
        return 1;
    }

    QsLogging::Logger& logger = QsLogging::Logger::instance();
    logger.setLoggingLevel(QsLogging::TraceLevel);
    QsLogging::DestinationPtr fileDestination =
        QsLogging::makeFileDestination(QStringLiteral("./log.txt"), true, 2097152, 1000);
    QsLogging::DestinationPtr debugDestination = QsLogging::makeDebugOutputDestination();
    logger.addDestination(debugDestination);
    logger.addDestination(fileDestination);
    QLOG_INFO() << "dosemanager" << DOSE_VERSION << "in" << QDir::currentPath();

    std::unique_ptr<DataBase> database;
    const QString refusal = openStore(settings, database);
    // A station may not write into a store whose audit trail is incomplete.
    if (!database->missingLayout().isEmpty()) {
        QTextStream err(stderr);
        err.setCodec("UTF-8");
        err << "dosemanager: " << refusal << '\n';
        err.flush();
        QMessageBox::critical(nullptr, QStringLiteral("数据库"), refusal);
        return 1;
    }
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
