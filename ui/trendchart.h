// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/alarm.h"
#include "core/reading.h"
#include "core/trendhistory.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <optional>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

// A window plotting pitch and roll as shown against elapsed time. It keeps
// the latest reading of each axis and samples them at its own tick, so a
// sensor standing still draws a flat line that scrolls with time; the plot
// is redrawn at the same fixed rate (20 per second) whatever the reply rate.
class TrendChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int RepaintMs = 50;
    static constexpr int MaxPointsPerSeries = 1200;

    explicit TrendChart(QWidget* parent = nullptr);

    // A value older than this is not drawn: the sensor has gone quiet.
    static constexpr qint64 StaleMs = 2500;

    void take(const Reading& reading);
    void setUnit(const QString& unit);
    // With the alarm on, each axis with a limit gets lines at +-limit and,
    // dashed, at +-(limit - hysteresis), in that axis' colour.
    void setAlarmLimits(const AlarmSettings& settings);
    // The lines drawn: pitch limit +, -, pitch clear +, -, then roll's.
    const std::array<QLineSeries*, 8>& limitSeries() const { return m_limits; }

    qint64 windowMs() const;
    bool paused() const;
    const TrendHistory& history() const { return m_history; }
    QLineSeries* pitchSeries() const { return m_pitch; }
    QLineSeries* rollSeries() const { return m_roll; }

    void repaintNow();
    void sampleNow(); // one tick: the latest values into the history

private:
    void applyPalette();
    void changeEvent(QEvent* event) override;

    TrendHistory m_history;
    QElapsedTimer m_clock;
    QString m_unit;
    std::optional<Reading> m_pitchNow;
    std::optional<Reading> m_rollNow;
    QString m_readPitch; // the readout, frozen while paused
    QString m_readRoll;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QLineSeries* m_pitch = nullptr;
    QLineSeries* m_roll = nullptr;
    std::array<QLineSeries*, 8> m_limits {}; // pitch limit +, -, pitch clear +, -, roll's alike
    AlarmSettings m_alarm;
    QValueAxis* m_x = nullptr;
    QValueAxis* m_y = nullptr;
    QComboBox* m_window = nullptr;
    QPushButton* m_pause = nullptr;
    QLabel* m_readout = nullptr;
    QTimer* m_repaint = nullptr;
    qint64 m_frozenAt = -1; // elapsed time at which the plot was paused
};
