// The main window at work: its components wired together, the menus and their dialogs, backup and restore,
// the tree with its level markers, and the selected person's curve and panel.

#include "desktop/MainWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSqlError>
#include <QTimer>
#include <QTreeWidgetItem>

#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "core/log/QsLog.h"
#include "core/DataBase.h"
#include "desktop/DbSettings.h"
#include "desktop/ComParaSettings.h"
#include "core/device/SerialPort.h"
#include "desktop/SynDevdata.h"
#include "desktop/DoseAlerts.h"
#include "desktop/DoseOverview.h"
#include "desktop/DoseReport.h"
#include "desktop/StatisticsDialog.h"
#include "desktop/ReconcileDialog.h"
#include "desktop/ReportPrompt.h"
#include "desktop/DoseAdjustments.h"
#include "desktop/DosePolicyDialog.h"
#include "desktop/PassiveImportAction.h"
#include "desktop/AuditView.h"
#include "core/dose/DoseStatus.h"
#include "core/report/PersonView.h"
#include "core/readings/mydeal_thread.h"
#include "desktop/SqlSelect.h"
#include "desktop/DepartInfo.h"
#include "desktop/DeviceInfo.h"
#include "desktop/Infomation.h"
#include "desktop/My_pieChart.h"
#include "desktop/mydisp_plot.h"
#include "desktop/myabout.h"
#include "ui_MainWindow.h"

namespace {

QString formatDose(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

MainWindow::MainWindow(QWidget* parent, SettingsAdpater* settings, DataBase* database)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , settings(settings)
    , database(database)
{
    ui->setupUi(this);

    serialPort = new SerialPort(this, settings, database);
    comParaSettings = new ComParaSettings(this, settings);
    infomation = new Infomation(this, settings, database);
    departInfo = new DepartInfo(this, settings, database);
    deviceInfo = new DeviceInfo(this, settings, database);
    synDevdata = new SynDevdata(this);
    // An address the dosimeter acknowledged is carried into the register.
    synDevdata->setDataBase(database);
    about = new myabout(this);
    sqlSelect = new SqlSelect(this, database);
    dealThread = new mydeal_thread(this, database, settings);
    doseAlerts = new DoseAlerts(this, database);
    archive = new ArchiveActions(this, database);
    connect(archive, &ArchiveActions::automaticDone, this, &MainWindow::automaticBackupDone);
    doseOverview = new DoseOverview(this, database);
    doseReport = new DoseReport(this, database);
    statisticsDialog = new StatisticsDialog(this, database);
    policyDialog = new DosePolicyDialog(this, database);
    adjustDialog = new DoseAdjustments(this, database);
    reconcileDialog = new ReconcileDialog(this, database);
    auditView = new AuditView(this, database);

    // Whoever built the database for us: the wear periods must be there
    // before any figure is read (harmless when they are).
    database->createAddedTables();
    database->createConnection(connName);
    db = database->getConnection(connName);

    buildTree();

    connect(ui->actionInfo, &QAction::triggered, this, &MainWindow::InfoSet);
    connect(ui->actionDepart, &QAction::triggered, this, &MainWindow::Depart);
    connect(ui->actionCom, &QAction::triggered, this, &MainWindow::ComSet);
    connect(ui->actionDevice, &QAction::triggered, this, &MainWindow::Device);
    connect(ui->actionDgfd, &QAction::triggered, this, &MainWindow::searchData);
    connect(ui->action_synchro, &QAction::triggered, this, &MainWindow::syninfo);
    connect(ui->action_run, &QAction::triggered, this, &MainWindow::StartPro);
    connect(ui->action_stop, &QAction::triggered, this, &MainWindow::StopPro);
    connect(ui->actionExit, &QAction::triggered, this, &MainWindow::close);
    connect(ui->action_about, &QAction::triggered, this, &MainWindow::show_mabout);
    connect(ui->action_alerts, &QAction::triggered, this, &MainWindow::showAlerts);
    connect(ui->action_overview, &QAction::triggered, this, &MainWindow::showOverview);
    connect(ui->action_report, &QAction::triggered, this, &MainWindow::showReport);
    connect(ui->action_statistics, &QAction::triggered, this, &MainWindow::showStatistics);
    ui->treeWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->treeWidget, &QWidget::customContextMenuRequested, this, &MainWindow::treeMenu);
    ui->frame->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->frame, &QWidget::customContextMenuRequested, this, &MainWindow::panelMenu);
    connect(ui->action_policy, &QAction::triggered, this, &MainWindow::editPolicy);
    connect(ui->action_audit, &QAction::triggered, this, &MainWindow::showAudit);
    connect(ui->action_backup, &QAction::triggered, this, &MainWindow::backupNow);
    connect(ui->action_restore, &QAction::triggered, this, &MainWindow::restoreNow);
    connect(ui->action_dbsettings, &QAction::triggered, this, [this] {
        DbSettings dialog(this, this->settings);
        dialog.exec();
    });
    connect(this, &MainWindow::automaticBackupDone, this, &MainWindow::showAutomaticBackup, Qt::QueuedConnection);
    connect(policyDialog, &DosePolicyDialog::policyChanged, this, [this] { evaluateLevels(); });
    connect(ui->action_adjust, &QAction::triggered, this,
            [this] { showAdjustments(currentInfo.index != -1 ? currentInfo.ID_card : QString()); });
    connect(ui->action_import_passive, &QAction::triggered, this,
            [this] { PassiveImportAction::run(this, this->database); });
    connect(adjustDialog, &DoseAdjustments::adjustmentsChanged, this, [this](int raised) {
        evaluateLevels();
        if (currentInfo.index != -1)
            show_plot(currentInfo);
        // The approval raised them already; the officer sees them now.
        if (raised > 0)
            showAlerts();
    });
    connect(ui->action_reconcile, &QAction::triggered, this, [this] { reconcileDialog->exec(); });
    ui->mainToolBar->addAction(ui->action_synchro);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->actionDgfd);
    ui->mainToolBar->addSeparator();
    ui->mainToolBar->addAction(ui->actionExit);
    connect(synDevdata, &SynDevdata::Syndevid_signal, serialPort, &SerialPort::dealsyndata);
    connect(serialPort, &SerialPort::data_Result, synDevdata, &SynDevdata::getsyninfo);
    connect(comParaSettings, &ComParaSettings::Compara_changge, serialPort, &SerialPort::SerCompara_changge);
    // What the operator sees during a long transfer, and why a port would not open.
    connect(serialPort, &SerialPort::receiveProgress, synDevdata, &SynDevdata::showProgress);
    connect(serialPort, &SerialPort::portOpenFailed, synDevdata, &SynDevdata::noteOpenFailure);

    plot = new mydisp_plot(ui->qwtPlot, settings);

    pieChart = new My_pieChart(ui->pie_frame);
    pieChart->setPosition(40, 25);
    pieChart->setSize(260, 180);
    pieChart->setData({0.1, 0.9});
    pieChart->setDepth(20);

    ui->use_lable->setStyleSheet(QStringLiteral("color:blue"));
    ui->unuse_lable->setStyleSheet(QStringLiteral("color:red"));

    connect(ui->treeWidget, &QTreeWidget::itemClicked, this, &MainWindow::show_persondata);
    connect(ui->radioButton, &QRadioButton::toggled, this, &MainWindow::Selectchangge);
    connect(ui->de_day, &QDateEdit::dateChanged, this, &MainWindow::Datechangge);
    connect(ui->rb_mon, &QRadioButton::toggled, this, &MainWindow::Selectchangge);
    connect(ui->de_mon, &QDateEdit::dateChanged, this, &MainWindow::Datechangge);
    connect(ui->rb_year, &QRadioButton::toggled, this, &MainWindow::Selectchangge);
    connect(ui->de_year, &QDateEdit::dateChanged, this, &MainWindow::Datechangge);
    // Replies are stored in the processing thread; each outcome comes back
    // through the event loop to the link, which reports a reply that could
    // not be stored as a failure, and clears no memory before it is stored.
    serialPort->setAwaitStorage(true);
    connect(serialPort, &SerialPort::MySave_data, dealThread, &mydeal_thread::MY_receiveData);
    connect(dealThread, &mydeal_thread::dataStored, this, [this](bool ok) { storedDuringSync |= ok; });
    connect(dealThread, &mydeal_thread::dataStored, serialPort, &SerialPort::dataStoreResult);

    showNobody();
    evaluateLevels(true);
}

MainWindow::~MainWindow()
{
    // The backup thread reports to this window: it ends first.
    delete archive;
    archive = nullptr;
    // The processing thread must have finished before anything it uses goes,
    // and the plot controller before the plot widget it draws on.
    delete dealThread;
    dealThread = nullptr;
    delete plot;
    plot = nullptr;
    delete ui;
}

void MainWindow::InfoSet()
{
    infomation->exec();
    buildTree();
}

void MainWindow::Depart()
{
    departInfo->exec();
    buildTree();
}

void MainWindow::Device()
{
    deviceInfo->exec();
    buildTree();
}

void MainWindow::ComSet()
{
    comParaSettings->exec();
}

void MainWindow::searchData()
{
    sqlSelect->exec();
}

void MainWindow::show_mabout()
{
    about->exec();
}

void MainWindow::syninfo()
{
    storedDuringSync = false;
    if (synDevdata->exec() == QDialog::Accepted)
        serialPort->stopPorts();
    if (storedDuringSync)
        evaluateLevels();
}

void MainWindow::showAlerts()
{
    doseAlerts->reload();
    doseAlerts->show();
    doseAlerts->raise();
    doseAlerts->activateWindow();
}

void MainWindow::showOverview()
{
    doseOverview->exec();
}

void MainWindow::showReport()
{
    doseReport->exec();
}

void MainWindow::showStatistics()
{
    statisticsDialog->exec();
}

void MainWindow::treeMenu(const QPoint& pos)
{
    QTreeWidgetItem* item = ui->treeWidget->itemAt(pos);
    if (!item || !item->parent())
        return;
    const Depart_Info* person = findPerson(item->parent()->text(0), item->parent()->indexOfChild(item));
    if (!person)
        return;
    const QString card = person->ID_card;
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("个人剂量档案…")), &QAction::triggered, this,
            [this, card] { ReportPrompt::personRecord(this, database, card); });
    connect(menu.addAction(QStringLiteral("剂量更正…")), &QAction::triggered, this,
            [this, card] { showAdjustments(card); });
    menu.exec(ui->treeWidget->viewport()->mapToGlobal(pos));
}

void MainWindow::panelMenu(const QPoint& pos)
{
    if (currentInfo.index == -1)
        return;
    const QString card = currentInfo.ID_card;
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("个人剂量档案…")), &QAction::triggered, this,
            [this, card] { ReportPrompt::personRecord(this, database, card); });
    connect(menu.addAction(QStringLiteral("剂量更正…")), &QAction::triggered, this,
            [this, card] { showAdjustments(card); });
    menu.exec(ui->frame->mapToGlobal(pos));
}

void MainWindow::showAdjustments(const QString& card)
{
    adjustDialog->choosePerson(card);
    adjustDialog->exec();
}

void MainWindow::editPolicy()
{
    policyDialog->exec();
}

void MainWindow::showAudit()
{
    auditView->exec();
}

void MainWindow::setFileName(FileName ask)
{
    ArchiveActions::setFileName(std::move(ask));
}

void MainWindow::startAutomaticBackup()
{
    archive->startAutomatic();
}

bool MainWindow::automaticBackupRunning() const
{
    return archive->automaticRunning();
}

void MainWindow::showAutomaticBackup(bool ok, const QString& text)
{
    if (!ok) {
        QLOG_ERROR() << "automatic backup failed:" << text;
        ui->statusBar->showMessage(QStringLiteral("自动备份失败: ") + text);
    } else if (!text.isEmpty()) {
        QLOG_INFO() << "automatic backup written to" << text;
        ui->statusBar->showMessage(QStringLiteral("已自动备份到 ") + text, 10000);
    }
}

void MainWindow::backupNow()
{
    archive->backupNow();
}

void MainWindow::restoreNow()
{
    if (!archive->restoreNow(isRunning))
        return;
    buildTree();
    evaluateLevels();
    archive->confirmRestore();
}

void MainWindow::evaluateLevels(bool atStartUp)
{
    database->openConnection(connName);
    if (!db.isOpen())
        return;
    const QDateTime now = Clock::now();
    DoseStatus status(*database, db);
    QList<PersonStatus> rows;
    const bool judged = status.evaluate(rows, now);
    const QString why = judged ? QString() : db.lastError().text();
    const int raised = judged ? status.raiseAlerts(rows, now) : 0;
    database->closeConnection(connName);

    levelsRead = judged;
    if (!judged) {
        // Nothing is judged from half a register: the markers stay as they
        // were, no alert is raised, and the panel says the level is unknown.
        QLOG_ERROR() << "the dose levels cannot be evaluated:" << why;
        return;
    }
    verdicts.clear();
    for (const PersonStatus& p : qAsConst(rows))
        verdicts.insert(p.ID_card, p.verdict);
    markTree();

    if (raised > 0 || (atStartUp && doseAlerts->unacknowledged() > 0)) {
        // After the window itself is up, and without blocking it.
        QTimer::singleShot(0, this, &MainWindow::showAlerts);
    }
}

void MainWindow::markTree()
{
    for (const Depart_Info& info : qAsConst(infoList)) {
        QTreeWidgetItem* departItem = nullptr;
        for (int i = 0; i < ui->treeWidget->topLevelItemCount() && !departItem; ++i) {
            if (ui->treeWidget->topLevelItem(i)->text(0) == info.department)
                departItem = ui->treeWidget->topLevelItem(i);
        }
        QTreeWidgetItem* item = departItem ? departItem->child(info.index) : nullptr;
        if (!item)
            continue;
        const DoseLevel::Verdict v = verdicts.value(info.ID_card);
        if (v.level == DoseLevel::Normal) {
            item->setIcon(0, QIcon());
            item->setToolTip(0, QString());
            continue;
        }
        QPixmap marker(12, 12);
        marker.fill(Qt::transparent);
        QPainter painter(&marker);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(DoseLevel::color(v.level));
        painter.drawEllipse(1, 1, 10, 10);
        painter.end();
        item->setIcon(0, QIcon(marker));
        item->setToolTip(0, v.reason);
    }
}

void MainWindow::showNobody()
{
    for (QLabel* label : {ui->lb_name, ui->lb_gendar, ui->lb_dep, ui->lb_type, ui->lb_value, ui->lb_level})
        label->clear();
    ui->lb_photo->clear();
    pieChart->setData({});
    pieChart->update();
    // An empty pie has nothing for its legend to name.
    ui->use_lable->hide();
    ui->unuse_lable->hide();
}

void MainWindow::StartPro()
{
    if (isRunning == 0) {
        serialPort->openPorts();
        isRunning = 1;
        ui->action_run->setEnabled(false);
    }
}

void MainWindow::StopPro()
{
    if (isRunning == 1) {
        serialPort->stopPorts();
        isRunning = 0;
        ui->action_run->setEnabled(true);
    }
}

void MainWindow::buildTree()
{
    infoList.clear();
    ui->treeWidget->clear();

    database->openConnection(connName);
    QList<Departdata> departments;
    database->selectAllDepartments(departments, db);
    for (const Departdata& department : departments) {
        auto* departItem = new QTreeWidgetItem(ui->treeWidget, QStringList(department.department));
        QList<Staffdata> staff;
        database->selectStaffByDepartment(staff, department.department, db);
        for (int k = 0; k < staff.size(); ++k) {
            new QTreeWidgetItem(departItem, QStringList(staff[k].name));
            Depart_Info info;
            info.index = k;
            info.ID_card = staff[k].ID_card;
            info.department = department.department;
            info.ptype = staff[k].ptype;
            info.totalValue = staff[k].totalValue;
            infoList.append(info);
        }
    }
    database->closeConnection(connName);
    // An empty register: tell the officer where to begin.
    ui->lb_hint->setVisible(departments.isEmpty());
    ui->treeWidget->setVisible(!departments.isEmpty());
    markTree();

    // A changed date refreshes the person still selected once, before the
    // selection is reset below.
    const QDateTime now = Clock::now();
    ui->de_day->setDateTime(now);
    ui->de_mon->setDateTime(now);
    ui->de_year->setDateTime(now);

    currentInfo = Depart_Info();
    if (pieChart)
        showNobody();
}

const Depart_Info* MainWindow::findPerson(const QString& department, int index) const
{
    for (const Depart_Info& info : infoList) {
        if (info.department == department && info.index == index)
            return &info;
    }
    return nullptr;
}

void MainWindow::show_persondata(QTreeWidgetItem* pitem, int colum)
{
    Q_UNUSED(colum);
    if (!pitem || !pitem->parent())
        return;
    QTreeWidgetItem* parent = pitem->parent();
    const QString department = parent->text(0);
    const int row = parent->indexOfChild(pitem);
    const Depart_Info* found = findPerson(department, row);
    if (!found)
        return;
    currentInfo.index = row;
    currentInfo.department = department;
    currentInfo.ID_card = found->ID_card;
    currentInfo.ptype = found->ptype;
    currentInfo.totalValue = found->totalValue;
    show_plot(currentInfo);
}

void MainWindow::Selectchangge(bool status)
{
    if (status && currentInfo.index != -1)
        show_plot(currentInfo);
}

void MainWindow::Datechangge(QDate date)
{
    Q_UNUSED(date);
    if (currentInfo.index != -1)
        show_plot(currentInfo);
}

void MainWindow::show_plot(Depart_Info minfo)
{
    const Depart_Info* found = findPerson(minfo.department, minfo.index);
    if (!found)
        return;
    const Depart_Info entry = *found;

    database->openConnection(connName);
    if (!db.isOpen())
        return; // nothing can be read: the display stays as it was
    const PersonView::Mode mode = ui->radioButton->isChecked() ? PersonView::Day
        : ui->rb_mon->isChecked()                              ? PersonView::Month
        : ui->rb_year->isChecked()                             ? PersonView::Year
                                                               : PersonView::None;
    const QDate shown = mode == PersonView::Day ? ui->de_day->date()
        : mode == PersonView::Month             ? ui->de_mon->date()
                                                : ui->de_year->date();
    PersonView view;
    const bool read = view.load(*database, db, minfo.ID_card, entry.ptype, mode, shown, Clock::now());
    const QString why = db.lastError().text();
    database->closeConnection(connName);

    const QString typeText = entry.ptype == 0 ? QStringLiteral("职业") : QStringLiteral("非职业");
    if (read && !view.bound) {
        // Without a dosimeter there is nothing to draw; the panel must still
        // show the person just selected, not the previous one.
        plot->updateCurve(0, 0, QString(), QString(), QList<QVariant>(), 0);
        pieChart->setData({1.0, 0.0});
        pieChart->update();
        ui->use_lable->show();
        ui->unuse_lable->show();
        ui->lb_value->setText(QStringLiteral("未绑定设备"));
        ui->lb_adjusted->clear();
        showPersonPanel(entry, typeText, view.staff, true);
        return;
    }
    if (!read) {
        // Could not read is not "no dose": no figure, no pie, no level.
        QLOG_ERROR() << "the dose of" << minfo.ID_card << "cannot be read:" << why;
        plot->updateCurve(0, 0, QString(), QString(), QList<QVariant>(), 0);
        pieChart->setData({});
        pieChart->update();
        ui->use_lable->hide();
        ui->unuse_lable->hide();
        ui->lb_value->setText(QStringLiteral("读取失败"));
        ui->lb_adjusted->clear();
        showPersonPanel(entry, typeText, view.staff, false);
        return;
    }
    plot->updateCurve(view.curveMode, view.legend, view.begin, view.end, view.points, view.points.size());
    pieChart->setData(view.shares());
    update();
    pieChart->update();
    ui->use_lable->show();
    ui->unuse_lable->show();
    ui->lb_value->setText(formatDose(view.used) + QStringLiteral("μSv/") + formatDose(view.left())
                          + QStringLiteral("μSv"));
    // The figure is not the readings' alone: say so, and what waits.
    QStringList note;
    if (!view.adjusted.isEmpty())
        note << QStringLiteral("含剂量更正: ") + view.adjusted.join(QStringLiteral(", "));
    if (view.pending)
        note << QStringLiteral("有剂量更正待批准");
    if (!view.passive.isEmpty())
        note << QStringLiteral("含个人剂量计结果: ") + view.passive.join(QStringLiteral(", "));
    ui->lb_adjusted->setText(note.join(QStringLiteral("; ")));
    showPersonPanel(entry, typeText, view.staff, true);
}

void MainWindow::showPersonPanel(const Depart_Info& entry, const QString& typeText, const Staffdata& staff,
                                 bool read)
{
    ui->lb_dep->setText(entry.department);
    ui->lb_type->setText(typeText);
    ui->lb_name->setText(staff.name);
    ui->lb_gendar->setText(staff.gender);
    // A level is shown only when it was judged from what could be read.
    ui->lb_level->setText(read && levelsRead
                              ? QStringLiteral("状态: ") + DoseLevel::label(verdicts.value(entry.ID_card).level)
                              : QStringLiteral("状态: 读取失败"));
    ui->lb_photo->clear();
    if (!staff.photo.isEmpty()) {
        QPixmap picture;
        picture.loadFromData(staff.photo);
        ui->lb_photo->setPixmap(picture);
        ui->lb_photo->setScaledContents(true);
    }
}
