// Renders the main window (a person selected, in each of the three views) and
// the dialogs into PNG files, offscreen, from a temporary database filled
// with sample data:
//
//     QT_QPA_PLATFORM=offscreen build/tools/screenshots OUTDIR
//
// It also exports the sample readings into OUTDIR/sample-export.xls.

#include <QApplication>
#include <QDateEdit>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QTableWidget>
#include <QDir>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>

#include "core/ChineseTranslation.h"
#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "core/DataBase.h"
#include "core/device/SerialPort.h"
#include "desktop/SynDevdata.h"
#include "sim/SampleData.h"
#include "sim/SimPty.h"
#include "desktop/MainWindow.h"
#include "desktop/SqlSelect.h"
#include "desktop/myabout.h"
#include "core/report/PeriodReport.h"
#include "core/report/PersonRecord.h"
#include "core/export/ReportDocument.h"

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

bool save(QWidget* widget, const QString& file)
{
    settle();
    const bool ok = widget->grab().save(file);
    out() << (ok ? "wrote " : "FAILED ") << file << Qt::endl;
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // As the officer sees it: Qt's own words in Chinese too.
    ChineseTranslation::install(app);
    if (argc < 2) {
        out() << "usage: screenshots OUTDIR" << Qt::endl;
        return 2;
    }
    const QString outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outDir);

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    const QDateTime now(QDate(2026, 11, 16), QTime(15, 20));
    // No real serial port is touched while the pictures are made: two
    // simulated dosimeters answer the synchronisation instead.
    SimPty first(5);
    SimPty second(6);
    QList<PortDescription> ports;
    for (SimPty* pty : {&first, &second}) {
        pty->device().generate(now.date().addDays(-3), now.date().addDays(-1), SimDosimeter::DosePattern::Daily, 1.0);
        PortDescription port;
        port.portName = pty->slavePath();
        port.systemLocation = pty->slavePath();
        port.description = QStringLiteral("simulated dosimeter");
        ports.append(port);
    }
    SerialPort::setPortLister([ports] { return ports; });
    Clock::setNow(now);

    SettingsAdpater settings(QStringLiteral("zudovi.ini"), QSettings::IniFormat);
    DataBase database;
    database.createTables();
    database.createAddedTables();
    if (!SampleData::fill(&database, &settings, now)) {
        out() << "could not fill the sample database" << Qt::endl;
        return 1;
    }

    bool ok = true;
    {
        MainWindow window(nullptr, &settings, &database);
        window.resize(1024, 640);
        window.show();
        auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("treeWidget"));
        tree->expandAll();
        QTreeWidgetItem* person = tree->topLevelItem(0)->child(0);
        tree->setCurrentItem(person);
        emit tree->itemClicked(person, 0);

        window.findChild<QDateEdit*>(QStringLiteral("de_day"))->setDate(now.date().addDays(-1));
        window.findChild<QRadioButton*>(QStringLiteral("radioButton"))->setChecked(true);
        ok = save(&window, outDir + QStringLiteral("/main-day.png")) && ok;
        window.findChild<QRadioButton*>(QStringLiteral("rb_mon"))->setChecked(true);
        ok = save(&window, outDir + QStringLiteral("/main-month.png")) && ok;
        window.findChild<QDateEdit*>(QStringLiteral("de_year"))->setDate(now.date());
        window.findChild<QRadioButton*>(QStringLiteral("rb_year"))->setChecked(true);
        ok = save(&window, outDir + QStringLiteral("/main-year.png")) && ok;

        // Every dialog of the window and of its dialogs, shown modelessly for the picture.
        for (QDialog* dialog : window.findChildren<QDialog*>()) {
            dialog->show();
            if (auto* sync = qobject_cast<SynDevdata*>(dialog)) {
                // Let both simulated devices answer before the picture.
                auto* table = sync->findChild<QTableWidget*>(QStringLiteral("tableWidget"));
                QElapsedTimer waited;
                waited.start();
                while (table->rowCount() < 2 && waited.elapsed() < 10000)
                    QApplication::processEvents(QEventLoop::AllEvents, 50);
            }
            // The list dialogs show their rows after a search.
            if (auto* search = dialog->findChild<QPushButton*>(QStringLiteral("btnSearch")))
                search->click();
            if (auto* query = qobject_cast<SqlSelect*>(dialog)) {
                // The whole sample result also goes into a workbook, the
                // way the operator's 导出数据 writes it.
                const QString workbook = outDir + QStringLiteral("/sample-export.xls");
                QFile::remove(workbook);
                SqlSelect::setSaveFileName([workbook](QWidget*) { return workbook; });
                // Whatever box reports the outcome is closed once it shows.
                QTimer closer;
                QObject::connect(&closer, &QTimer::timeout, [] {
                    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                        box->done(0);
                });
                closer.start(50);
                query->findChild<QPushButton*>(QStringLiteral("btnExcel"))->click();
                closer.stop();
                out() << (QFile::exists(workbook) ? "wrote " : "FAILED ") << workbook << Qt::endl;
            }
            ok = save(dialog, outDir + QLatin1Char('/') + QString::fromLatin1(dialog->metaObject()->className())
                                  + QStringLiteral(".png"))
                && ok;
            dialog->hide();
        }
    }

    // The first page of a personal dose record, and a department report,
    // of the first person of the sample (pdftoppm turns them into pictures).
    {
        database.createConnection(QStringLiteral("records.db"));
        QSqlDatabase db = database.getConnection(QStringLiteral("records.db"));
        QList<Staffdata> staff;
        PersonRecord record;
        PeriodReport report;
        QString why;
        ok = database.selectStaffForStatus(staff, QString(), db) && !staff.isEmpty()
            && PersonRecord::load(database, db, staff.first().ID_card, 0, 0, record, &why)
            && ReportDocument::writePdf(record, {outDir + QStringLiteral("/record.pdf"), true, QString()}, &why)
            && PeriodReport::load(database, db, QString(), QDate(now.date().year(), 1, 1), now.date(), report, &why)
            && ReportDocument::writePdf(report, {outDir + QStringLiteral("/report.pdf"), true, QString()}, &why) && ok;
        if (!why.isEmpty())
            out() << "reports: " << why << Qt::endl;
        db = QSqlDatabase();
        database.closeConnection(QStringLiteral("records.db"));
    }
    return ok ? 0 : 1;
}
