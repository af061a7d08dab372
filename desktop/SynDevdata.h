#pragma once

// The dialog that synchronises with the connected dosimeters: reading, clearing and readdressing them.

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

#include "core/device/DevRow.h"

namespace Ui {
class SynDevdata;
}

class DataBase;
class QShowEvent;

// "同步信息": reads every connected dosimeter when shown, and lets the
// operator clear a device or change its bus address. Requests go out through
// Syndevid_signal; the link's outcomes come back through getsyninfo.
class SynDevdata : public QDialog
{
    Q_OBJECT

public:
    explicit SynDevdata(QWidget* parent = nullptr);
    ~SynDevdata() override;

    const QList<DevRow>& devRows() const { return rows; }
    // Where an acknowledged address change is written: the device's binding
    // and its wearer's period move to the new address. None: the register
    // is left alone.
    void setDataBase(DataBase* store);
    bool isEditing() const { return editing; }

public slots:
    void My_syndata();
    void My_cleardata();
    void My_devidclick(int row, int column);
    void My_devidchange(int row, int column);
    void getsyninfo(int type, QString comname, int devid, bool result);
    // While a long data reply comes in: which port, how many records so far.
    void showProgress(QString comName, int received, int total);
    // A port that could not be opened and why; shown if no device is reached.
    void noteOpenFailure(QString comName, QString reason);

signals:
    void Syndevid_signal(int type, int olddevid, int newdevid);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startSync(const QString& label);
    void setCell(int row, int column, const QString& text);
    int findRowByDevId(int devId) const;
    QString noDeviceText() const;
    // The synchronisation so far: how many dosimeters were read and
    // stored, which ports failed and which had nothing connected.
    QString headline() const;

    void followAddress(int oldId, int newId);
    void recordClear(const QString& comName, int devId);

    std::unique_ptr<Ui::SynDevdata> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("syndevdata.db");
    QList<DevRow> rows;
    bool editing = false;
    // Set while getsyninfo writes cells: those writes are not the operator's.
    bool writingCells = false;
    // Records of the reply coming in on a port, and of the last one read: a
    // cleared memory is recorded with what it held.
    QHash<QString, int> arriving;
    QHash<QString, int> heldAtRead;
    // Ports that failed to open during the current synchronisation.
    QList<QPair<QString, QString>> openFailures;
    // This synchronisation's ports that failed (with why) and that never
    // answered at all.
    QStringList failedPorts;
    QStringList silentPorts;
};
