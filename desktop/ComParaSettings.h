#pragma once

// The dialog that edits the serial-port settings.

#include <QDialog>
#include <QList>
#include <QString>

#include <memory>

#include "core/device/Com_Info.h"

namespace Ui {
class ComParaSettings;
}

class QComboBox;
class QShowEvent;
class SettingsAdpater;

// "串口设置": edits the twenty serial-port slots of the settings store. The
// widgets work on a copy of the store's list; only OK hands it back.
class ComParaSettings : public QDialog
{
    Q_OBJECT

public:
    ComParaSettings(QWidget* parent, SettingsAdpater* settings);
    ~ComParaSettings() override;

    // The working copy, as the next OK would store it.
    const QList<Com_Info>& workingList() const { return comList; }

public slots:
    int findport(int idx, QString portname);
    int PrechangesIdx(int id);
    void changeport();
    void changesIdx();
    void changesAccepted();

signals:
    void Compara_changge();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showRecord(const Com_Info& info);
    void fillRecord(Com_Info& info) const;
    static void selectText(QComboBox* box, const QString& text);
    static void critical(const QString& text);

    std::unique_ptr<Ui::ComParaSettings> ui;
    SettingsAdpater* settings = nullptr;
    QList<Com_Info> comList;
    int curIndex = 0;
    bool ready = false;
};
