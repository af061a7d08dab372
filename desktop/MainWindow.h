#pragma once

// The program's main window: its menus, the department and person tree, and the selected person's panel.

#include <QDate>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QSqlDatabase>
#include <QString>

#include "core/register/Staffdata.h"
#include "core/dose/DoseLevel.h"
#include "desktop/ArchiveActions.h"
#include "desktop/Depart_Info.h"

class ComParaSettings;
class DataBase;
class DepartInfo;
class DoseAlerts;
class DoseOverview;
class DoseReport;
class StatisticsDialog;
class ReconcileDialog;
class AuditView;
class DosePolicyDialog;
class DoseAdjustments;
class DeviceInfo;
class Infomation;
class My_pieChart;
class QThread;
class QTreeWidgetItem;
class SerialPort;
class SettingsAdpater;
class SqlSelect;
class SynDevdata;
class mydeal_thread;
class mydisp_plot;
class myabout;

namespace Ui {
class MainWindow;
}

// The program's one top-level window. It creates every long-lived component
// once, wires them together, keeps the department/person tree and shows the
// selected person's dose curve, cumulative dose and photo.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(QWidget* parent, SettingsAdpater* settings, DataBase* database);
    ~MainWindow() override;

    // Where the backup and restore files come from; empty asks with the file
    // dialogs. title is the dialog's ("备份数据库" or "恢复数据库").
    using FileName = ArchiveActions::FileName;
    static void setFileName(FileName ask);

    // The start-up backup, written by a thread of its own so that a large
    // database does not hold up the window; automaticBackupDone reports it.
    void startAutomaticBackup();
    bool automaticBackupRunning() const;

    // Read access for the screenshot tool and the tests.
    mydisp_plot* curvePlot() const { return plot; }
    const Depart_Info& selectedPerson() const { return currentInfo; }
    const QList<Depart_Info>& persons() const { return infoList; }


signals:
    // ok, and the new backup's path (empty when none was due) or the reason.
    void automaticBackupDone(bool ok, const QString& text);

private slots:
    void InfoSet();
    void Depart();
    void Device();
    void ComSet();
    void searchData();
    void show_mabout();
    void syninfo();
    void StartPro();
    void StopPro();
    void show_persondata(QTreeWidgetItem* pitem, int colum);
    void showAlerts();
    void showOverview();
    void showReport();
    void showStatistics();
    // 个人剂量档案 of the person under the pointer in the tree, or of the
    // person the panel shows.
    void treeMenu(const QPoint& pos);
    void panelMenu(const QPoint& pos);
    void editPolicy();
    // 剂量更正 of the person card (the first one when empty).
    void showAdjustments(const QString& card);
    void showAudit();
    void backupNow();
    void restoreNow();
    void showAutomaticBackup(bool ok, const QString& text);
    void show_plot(Depart_Info minfo);
    void Selectchangge(bool status);
    void Datechangge(QDate date);

public:
    // Judges everyone's doses as of now, stores the alerts reached and marks
    // the tree; opens the alerts when new ones were raised (or, at start-up,
    // when any wait for acknowledgement).
    void evaluateLevels(bool atStartUp = false);
    const QHash<QString, DoseLevel::Verdict>& levels() const { return verdicts; }

private:
    void buildTree();
    void markTree();
    void showNobody();
    const Depart_Info* findPerson(const QString& department, int index) const;
    // read: the person's figures could be read (else the level shows 读取失败).
    void showPersonPanel(const Depart_Info& entry, const QString& typeText, const Staffdata& staff, bool read);

    Ui::MainWindow* ui = nullptr;
    SettingsAdpater* settings = nullptr;
    Infomation* infomation = nullptr;
    DepartInfo* departInfo = nullptr;
    DeviceInfo* deviceInfo = nullptr;
    DataBase* database = nullptr;
    SynDevdata* synDevdata = nullptr;
    QSqlDatabase db;
    QString connName = QStringLiteral("main.db");
    mydisp_plot* plot = nullptr;
    My_pieChart* pieChart = nullptr;
    myabout* about = nullptr;
    SqlSelect* sqlSelect = nullptr;
    ComParaSettings* comParaSettings = nullptr;
    DoseAlerts* doseAlerts = nullptr;
    DoseOverview* doseOverview = nullptr;
    DoseReport* doseReport = nullptr;
    StatisticsDialog* statisticsDialog = nullptr;
    DosePolicyDialog* policyDialog = nullptr;
    DoseAdjustments* adjustDialog = nullptr;
    ReconcileDialog* reconcileDialog = nullptr;
    AuditView* auditView = nullptr;
    // ID card -> where the person's doses stand, as of the last evaluation.
    QHash<QString, DoseLevel::Verdict> verdicts;
    // Whether the last evaluation of the levels could read everything.
    bool levelsRead = true;
    // A synchronisation stored readings: judge the doses when it is over.
    bool storedDuringSync = false;
    SerialPort* serialPort = nullptr;
    mydeal_thread* dealThread = nullptr;
    QList<Depart_Info> infoList;
    Depart_Info currentInfo;
    int isRunning = 0;
    ArchiveActions* archive = nullptr;
};
