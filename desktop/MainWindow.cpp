// The main window at work: its components wired together, the menus and their dialogs, backup and restore,
// the tree with its level markers, and the selected person's curve and panel.

#include "desktop/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QMenu>
#include <QPainter>
#include <QThread>
#include <QPixmap>
#include <QSqlError>
#include <QTimer>
#include <QTreeWidgetItem>

#include "core/time/Clock.h"
#include "core/device/SettingsAdpater.h"
#include "core/log/QsLog.h"
#include "core/DataBase.h"
#include "core/backup/DatabaseBackup.h"
#include "desktop/DbSettings.h"
#include "desktop/ComParaSettings.h"
#include "core/wear/WearAttribution.h"
#include "core/device/SerialPort.h"
#include "desktop/SynDevdata.h"
#include "desktop/DoseAlerts.h"
#include "desktop/DoseOverview.h"
#include "desktop/DoseReport.h"
#include "desktop/ReportPrompt.h"
#include "desktop/DosePolicyDialog.h"
#include "desktop/AuditView.h"
#include "core/dose/DoseStatus.h"
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

const int kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// A figure as the record the curve reads for its view.
QVariant record(int mode, const QString& key, double value)
{
    switch (mode) {
    case 0: {
        Realdata r;
        r.dataTime = key;
        r.probeValue = value;
        return QVariant::fromValue(r);
    }
    case 1: {
        totaldata_mon r;
        r.dataTime = key;
        r.probeValue = value;
        return QVariant::fromValue(r);
    }
    default: {
        totaldata_year r;
        r.dataTime = key;
        r.probeValue = value;
        return QVariant::fromValue(r);
    }
    }
}

QString formatDose(double value)
{
    return QString::number(value, 'g', 6);
}

MainWindow::FileName& fileName()
{
    static MainWindow::FileName ask;
    return ask;
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
    doseOverview = new DoseOverview(this, database);
    doseReport = new DoseReport(this, database);
    policyDialog = new DosePolicyDialog(this, database);
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
    connect(serialPort, &SerialPort::MySave_data, dealThread, &mydeal_thread::MY_receiveData);
    // The storage outcome goes back to the link, so that a reply that could
    // not be stored is reported to the operator as a failure.
    connect(dealThread, &mydeal_thread::dataStored, serialPort, &SerialPort::dataStoreResult,
            Qt::DirectConnection);
    connect(dealThread, &mydeal_thread::dataStored, this, [this](bool ok) { storedDuringSync |= ok; },
            Qt::DirectConnection);

    showNobody();
    evaluateLevels(true);
}

MainWindow::~MainWindow()
{
    // The backup thread reports to this window: it ends first.
    if (backupThread) {
        backupThread->wait();
        delete backupThread;
        backupThread = nullptr;
    }
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
    menu.exec(ui->frame->mapToGlobal(pos));
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
    fileName() = std::move(ask);
}

void MainWindow::startAutomaticBackup()
{
    // A shared store is the server's to back up.
    if (automaticBackupRunning() || database->isShared() || !database->isOpen())
        return;
    delete backupThread;
    const QString path = database->filePath();
    const QDateTime now = Clock::now();
    backupThread = QThread::create([this, path, now] {
        BackupReport report;
        QString reason;
        const bool ok = DatabaseBackup::automatic(path, now, &report, &reason);
        emit automaticBackupDone(ok, ok ? report.path : reason);
    });
    backupThread->start();
}

bool MainWindow::automaticBackupRunning() const
{
    return backupThread && !backupThread->isFinished();
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

bool MainWindow::storeIsFile(const QString& title)
{
    if (database->isShared()) {
        QMessageBox::information(this, title,
                                 QStringLiteral("共享数据库 (PostgreSQL) 由服务器备份和恢复 (pg_dump、pg_restore)。"));
        return false;
    }
    if (!database->isOpen()) {
        QMessageBox::warning(this, title, QStringLiteral("数据库未打开。"));
        return false;
    }
    return true;
}

void MainWindow::backupNow()
{
    const QString title = QStringLiteral("备份数据库");
    if (!storeIsFile(title))
        return;
    const QString suggested = QDir(DatabaseBackup::folder(database->filePath()))
                                  .filePath(DatabaseBackup::automaticName(Clock::now()));
    // The save dialog has asked whether to replace an existing file.
    const QString chosen = fileName() ? fileName()(this, title)
                                      : ReportPrompt::saveFileName(this, title, QStringLiteral("数据库 (*.db)"), suggested);
    OutputFile::Target target;
    OutputFile::Format format;
    if (chosen.isEmpty()
        || !ReportPrompt::target(this, title, chosen, {OutputFile::Format::Backup}, database->filePath(), &target,
                                 &format))
        return;
    BackupReport report;
    QString reason;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = DatabaseBackup::backup(database->filePath(), target.path, target.replace, &report, &reason);
    QApplication::restoreOverrideCursor();
    if (ok)
        QMessageBox::information(this, title, QStringLiteral("数据库已备份到 %1\n%2").arg(report.path, DatabaseBackup::summary(report)));
    else
        QMessageBox::warning(this, title, QStringLiteral("备份失败: ") + reason);
}

void MainWindow::restoreNow()
{
    const QString title = QStringLiteral("恢复数据库");
    if (!storeIsFile(title))
        return;
    if (isRunning) {
        QMessageBox::warning(this, title, QStringLiteral("请先停止采集, 再恢复数据库。"));
        return;
    }
    const QString path = fileName() ? fileName()(this, title)
                                    : QFileDialog::getOpenFileName(this, title, DatabaseBackup::folder(database->filePath()),
                                                                   QStringLiteral("数据库 (*.db);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    QString reason;
    if (!DatabaseBackup::restorable(path, &reason)) {
        QMessageBox::warning(this, title, QStringLiteral("不能用这个文件恢复: ") + reason);
        return;
    }
    if (QMessageBox::question(this, title,
                              QStringLiteral("用 %1 替换当前数据库吗?\n当前数据库会保留为 database.db.before-restore-…").arg(path))
        != QMessageBox::Yes)
        return;
    // The start-up backup reads the file through a connection of its own.
    if (backupThread)
        backupThread->wait();
    QString kept;
    const bool ok = DatabaseBackup::restore(path, database->filePath(), Clock::now(), &kept, &reason,
                                            [this](const std::function<bool()>& replace) {
                                                return database->withFileReleased(replace);
                                            });
    if (!ok) {
        QMessageBox::warning(this, title, QStringLiteral("恢复失败: ") + reason);
        return;
    }
    QLOG_INFO() << "database restored from" << path << "; the former one kept as" << kept;
    // A copy from an older version gains the tables added since.
    database->createTables();
    database->createAddedTables();
    buildTree();
    evaluateLevels();
    QMessageBox::information(this, title, QStringLiteral("数据库已恢复。原数据库保留为 %1").arg(kept));
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

void MainWindow::DataSelect()
{
}

void MainWindow::Heath()
{
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

    // The readings are the person's through their wear periods, whichever
    // dosimeter they wore; someone who never wore one shows as unbound.
    Devicedata device;
    QList<Wearingdata> periods;
    const bool bound = database->selectDeviceByIdCard(device, minfo.ID_card, db);
    // Periods that cannot be read are no sign of an unbound person.
    bool read = database->selectWearingByIdCard(periods, minfo.ID_card, db);
    if (read && !bound && periods.isEmpty()) {
        showUnboundPerson(entry);
        return;
    }

    QString begin;
    QString end;
    QList<QVariant> records;
    WearAttribution::Figures figures;
    int mode = 0;
    if (ui->radioButton->isChecked()) {
        const QDate day = ui->de_day->date();
        begin = day.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("000000");
        end = day.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("235900");
        read = WearAttribution::collect(database, db, minfo.ID_card, WearAttribution::Hours,
                                        QDateTime(day, QTime(0, 0)), QDateTime(day.addDays(1), QTime(0, 0)), figures)
            && read;
        mode = 0;
    } else if (ui->rb_mon->isChecked()) {
        const QDate shown = ui->de_mon->date();
        const QDate first(shown.year(), shown.month(), 1);
        begin = first.toString(QStringLiteral("yyyyMMdd"));
        int days = kDaysPerMonth[first.month() - 1];
        // Every fourth year is a leap year here, the century years too.
        if (first.month() == 2 && first.year() % 4 == 0)
            days = 29;
        end = first.toString(QStringLiteral("yyyyMM")) + QStringLiteral("%1").arg(days, 2, 10, QLatin1Char('0'));
        read = WearAttribution::collect(database, db, minfo.ID_card, WearAttribution::Days,
                                        QDateTime(first, QTime(0, 0)), QDateTime(first.addMonths(1), QTime(0, 0)),
                                        figures)
            && read;
        mode = 1;
    } else if (ui->rb_year->isChecked()) {
        const int year = ui->de_year->date().year();
        begin = QString::number(year) + QStringLiteral("01");
        end = QString::number(year) + QStringLiteral("12");
        read = WearAttribution::collect(database, db, minfo.ID_card, WearAttribution::Months,
                                        QDateTime(QDate(year, 1, 1), QTime(0, 0)),
                                        QDateTime(QDate(year + 1, 1, 1), QTime(0, 0)), figures)
            && read;
        mode = 2;
    }
    for (auto it = figures.values.cbegin(); it != figures.values.cend(); ++it)
        records.append(record(mode, it.key(), it.value()));
    const QString legendText =
        figures.addresses.isEmpty() ? WearAttribution::legend({device.slaveId}) : WearAttribution::legend(figures.addresses);
    plot->updateCurve(mode, legendText, begin, end, records, records.size());

    // Cumulative dose of the last year, the same figure the overview and
    // dosectl show; limit and background come from the dose policy.
    DoseStatus status(*database, db);
    double total = 0.0;
    read = status.lastYearUsed(minfo.ID_card, Clock::now(), total) && read;

    // A person without a staff row shows an empty name, gender and photo.
    Staffdata staff;
    database->selectStaffByIdCard(staff, minfo.ID_card, db);
    database->closeConnection(connName);

    const bool occupational = entry.ptype == 0;
    const double limit = status.policy().annualLimit(entry.ptype);
    const QString typeText = occupational ? QStringLiteral("职业") : QStringLiteral("非职业");
    if (!read) {
        // Could not read is not "no dose": no figure, no pie, no level.
        QLOG_ERROR() << "the dose of" << minfo.ID_card << "cannot be read:" << db.lastError().text();
        plot->updateCurve(0, 0, QString(), QString(), QList<QVariant>(), 0);
        pieChart->setData({});
        pieChart->update();
        ui->lb_value->setText(QStringLiteral("读取失败"));
        showPersonPanel(entry, typeText, staff, false);
        return;
    }
    double used = 0.0;
    double remaining = 1.0;
    if (total < 0) {
        total = 0;
    } else {
        used = total / limit;
        remaining = 1 - used;
    }
    pieChart->setData({remaining, used});
    update();
    pieChart->update();

    ui->lb_value->setText(formatDose(total) + QStringLiteral("μSv/") + formatDose(limit - total)
                          + QStringLiteral("μSv"));
    showPersonPanel(entry, typeText, staff, true);
}

void MainWindow::showUnboundPerson(const Depart_Info& entry)
{
    // Without a dosimeter there is nothing to draw; the panel must still show
    // the person just selected, not the previous one.
    Staffdata staff;
    database->selectStaffByIdCard(staff, entry.ID_card, db);
    database->closeConnection(connName);

    plot->updateCurve(0, 0, QString(), QString(), QList<QVariant>(), 0);
    pieChart->setData({1.0, 0.0});
    update();
    pieChart->update();
    ui->lb_value->setText(QStringLiteral("未绑定设备"));
    showPersonPanel(entry, entry.ptype == 0 ? QStringLiteral("职业") : QStringLiteral("非职业"), staff, true);
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
