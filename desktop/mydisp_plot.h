#pragma once

// The main window's dose curve of a day, a month or a year.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <array>

class QwtPlot;
class QwtPlotCurve;
class QwtPlotItem;
class SettingsAdpater;

// Drives the main window's dose plot: sets it up once, then draws one curve
// of a dosimeter's records over the slots of a day (24 hours), a month
// (31 days) or a year (12 months).
class mydisp_plot : public QObject
{
    Q_OBJECT

public:
    // The plot and the settings are not owned. The main window creates us
    // without parent; a parent may be given so that we go with it.
    mydisp_plot(QwtPlot* plot, SettingsAdpater* settings, QObject* parent = nullptr);
    ~mydisp_plot() override;

    // mode 0 day ("yyyyMMddhhmmss"), 1 month ("yyyyMMdd"), 2 year ("yyyyMM");
    // records hold Realdata, totaldata_mon or totaldata_year respectively, in
    // ascending dataTime; count is the number of records to use.
    void updateCurve(int mode, int slaveId, const QString& begin, const QString& end,
                     const QList<QVariant>& records, int count);
    // The same with the legend text given ("5,9号设备" for a person who
    // wore two dosimeters in the range).
    void updateCurve(int mode, const QString& legendText, const QString& begin, const QString& end,
                     const QList<QVariant>& records, int count);

    // Shows or hides a plot item and keeps its legend check box in step.
    void showCurve(QwtPlotItem* item, bool on);

    // The one curve; null until the first refresh that had records.
    QwtPlotCurve* curve() const { return curves[0]; }

public slots:
    void legendChecked(const QVariant& itemInfo, bool on);

private:
    void attachCurve(bool on);

    QPointer<QwtPlot> qwtPlot;
    SettingsAdpater* settings = nullptr;
    // Only the first slot is used.
    std::array<QwtPlotCurve*, 30> curves {};
    // The plot owns the curve only while it is attached.
    bool curveAttached = false;
};
