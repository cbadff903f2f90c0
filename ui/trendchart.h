#pragma once

#include "core/trendhistory.h"

#include <QElapsedTimer>
#include <QWidget>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

// A window plotting the displayed pitch and roll values against elapsed
// time. Values are collected as the labels change; the plot is redrawn at a
// fixed rate (20 per second) whatever the reply rate.
class TrendChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int RepaintMs = 50;
    static constexpr int MaxPointsPerSeries = 1200;

    explicit TrendChart(QWidget* parent = nullptr);

    // The texts the main window shows now, and the unit they are in.
    void valuesChanged(const QString& pitch, const QString& roll);
    void setUnit(const QString& unit);

    qint64 windowMs() const;
    bool paused() const;
    const TrendHistory& history() const { return m_history; }
    QLineSeries* pitchSeries() const { return m_pitch; }
    QLineSeries* rollSeries() const { return m_roll; }

    void repaintNow();

private:
    void applyPalette();
    void changeEvent(QEvent* event) override;

    TrendHistory m_history;
    QElapsedTimer m_clock;
    QString m_unit;
    QString m_lastPitch; // the readout, refreshed with the plot
    QString m_lastRoll;
    QChart* m_chart = nullptr;
    QChartView* m_view = nullptr;
    QLineSeries* m_pitch = nullptr;
    QLineSeries* m_roll = nullptr;
    QValueAxis* m_x = nullptr;
    QValueAxis* m_y = nullptr;
    QComboBox* m_window = nullptr;
    QPushButton* m_pause = nullptr;
    QLabel* m_readout = nullptr;
    QTimer* m_repaint = nullptr;
    qint64 m_frozenAt = -1; // elapsed time at which the plot was paused
};
