// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/history.h"

#include <QMainWindow>
#include <QPalette>
#include <QSize>
#include <QWidget>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// What the History chart shows: a span of time and the choices over it.
struct HistoryView {
    qint64 fromMs = 0, toMs = 0; // [from, to)
    bool utc = true;
    bool change = false; // the change since the reference instead of the angle
    bool temperature = false; // on an axis of its own
    std::optional<std::pair<double, double>> fixedRange; // the operator's value axis
};

// Draws `data` over `view` into `rect`: the same picture on screen and in
// an exported PNG or SVG. Reads a few points per pixel column from the
// summary, never every row. `cursorX` draws the readout's cursor there.
void paintHistory(QPainter& painter, const QRect& rect, const history::Data& data, const HistoryView& view,
    const QPalette& palette, std::optional<int> cursorX = std::nullopt);

// The plot area within `rect` (the axes' labels around it).
QRect historyPlotArea(const QRect& rect, const HistoryView& view);

// Writes `data` over the view's span to `file` by its extension: .png,
// .svg (the chart as `view` shows it, of `size`) or .csv (the rows as
// read). Written whole or not at all; the error text if not.
std::optional<QString> exportHistory(
    const history::Data& data, const QString& file, const HistoryView& view, QSize size = QSize(1200, 600));

// The chart: the wheel zooms the time around the pointer, dragging pans, a
// band dragged with the right button (or Shift) zooms to its span; keys +,
// -, arrows, Home, End. The pointer's row is told by rowPointed.
class HistoryChart : public QWidget {
    Q_OBJECT
public:
    explicit HistoryChart(QWidget* parent = nullptr);
    void setData(const history::Data* rows) { m_data = rows; }
    HistoryView& view() { return m_view; }
    void setSpan(qint64 fromMs, qint64 toMs);
    void showLast(qint64 spanMs); // the last `spanMs` up to the last row; 0: all

signals:
    void viewChanged();
    void rowPointed(qint64 row); // -1: none

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    qint64 timeAt(int x) const;
    void zoom(double factor, qint64 aroundMs);

    const history::Data* m_data = nullptr;
    HistoryView m_view;
    std::optional<QPoint> m_pressed; // where a drag began
    qint64 m_pressedFrom = 0, m_pressedTo = 0;
    bool m_band = false; // the drag is a rubber band
    int m_bandTo = 0;
    std::optional<int> m_cursorX;
};

// The History window: opens the operator's files on a thread of its own
// (with progress and Cancel), shows them, follows them as they grow and
// exports what is shown. The main window goes on polling meanwhile.
class HistoryWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit HistoryWindow(QWidget* parent = nullptr);
    ~HistoryWindow() override;

    void open(const QStringList& paths);
    const history::Data* data() const { return m_data.get(); }
    HistoryChart* chart() const { return m_chart; }

signals:
    void loaded(); // a load ended (rows or an error in the status line)

private:
    void loadFinished(quint64 generation, std::shared_ptr<history::Data> data, std::optional<QString> error);
    void followFiles();
    void showRow(qint64 row);
    void exportShown();
    void updateChoices();
    void stopLoading();

    HistoryChart* m_chart = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_readout = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QCheckBox* m_change = nullptr;
    QCheckBox* m_temperature = nullptr;
    QCheckBox* m_utc = nullptr;
    QCheckBox* m_fixed = nullptr;
    QTimer* m_follow = nullptr;
    std::shared_ptr<history::Data> m_data;
    std::thread m_loader;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
    quint64 m_generation = 0; // of the load under way: an older one's end is ignored
};
