// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/alarm.h"
#include "core/calibration.h"
#include "core/reading.h"
#include "core/safefile.h"

#include <QDialog>
#include <QFile>
#include <QObject>

class QAction;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

// The tilt alarm's settings dialog: it shows settings and reports the ones
// accepted; it decides nothing itself.
class TiltAlarm : public QDialog {
    Q_OBJECT
public:
    TiltAlarm(const AlarmSettings& settings, const QString& offWhy, QWidget* parent);
    AlarmSettings settings() const;

signals:
    void settingsAccepted(const AlarmSettings& settings);

private:
    QCheckBox* m_on = nullptr;
    QDoubleSpinBox* m_pitch = nullptr;
    QDoubleSpinBox* m_roll = nullptr;
    QDoubleSpinBox* m_hysteresis = nullptr;
    QSpinBox* m_hold = nullptr;
};

// The window's tilt alarm: the same rule as the logger's, fed with the
// readings shown. It owns its menu item, remembers its settings between
// runs, appends each transition to alarms.csv and reports which axes are in
// alarm; it never asks anything, so polling goes on.
class AlarmMenu : public QObject {
    Q_OBJECT
public:
    AlarmMenu(QString logPath, QObject* parent = nullptr);

    QAction* action() const { return m_alarmAction; }
    const AlarmRule& rule() const { return m_rule; }
    void take(const Reading& reading);
    void setCalibration(const Calibration& calibration);
    void apply(const AlarmSettings& settings); // as accepted in the dialog
    QString offWhy() const; // why alarms cannot work now, or ""
    void openAlarmSettings();

signals:
    void alarmState(bool pitch, bool roll);
    // The settings in force changed (off while the values are no angles).
    void limitsChanged(const AlarmSettings& settings);
    void status(const QString& text); // a failed write to alarms.csv

private:
    void refresh(qint64 wallMs);
    void log(qint64 wallMs, const AlarmTransition& transition);

    QString m_logPath;
    safefile::AppendFile m_log;
    AlarmRule m_rule;
    AlarmSettings m_wanted; // what the operator set
    Calibration m_calibration;
    bool m_rawDisplay = false;
    bool m_pitch = false;
    bool m_roll = false;
    QAction* m_alarmAction = nullptr;
};
