// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/trendchart.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

TrendChart::TrendChart(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TrendChart"));
    setWindowTitle(QStringLiteral("Trend chart"));
    m_clock.start();

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_pitch = new QLineSeries;
    m_pitch->setName(QStringLiteral("Pitch"));
    m_roll = new QLineSeries;
    m_roll->setName(QStringLiteral("Roll"));
    m_chart->addSeries(m_pitch);
    m_chart->addSeries(m_roll);
    const char* limitNames[] = {"TrendPitchLimit", "TrendPitchClear", "TrendRollLimit", "TrendRollClear"};
    for (std::size_t i = 0; i < m_limits.size(); ++i) {
        m_limits[i] = new QLineSeries;
        m_limits[i]->setObjectName(QStringLiteral("%1(%2)").arg(QLatin1String(limitNames[i / 2])).arg(i % 2));
        m_chart->addSeries(m_limits[i]);
    }
    m_x = new QValueAxis;
    m_x->setTitleText(QStringLiteral("Elapsed time (s)"));
    m_x->setLabelFormat(QStringLiteral("%.0f"));
    m_x->setTickType(QValueAxis::TicksDynamic); // whole seconds, anchored at 0
    m_x->setTickAnchor(0.0);
    m_y = new QValueAxis;
    m_y->setLabelFormat(QStringLiteral("%.6g")); // short labels whatever the values
    m_y->setRange(-1.0, 1.0); // until there is a value: a level sensor's neighbourhood, not 0 to 0
    m_chart->addAxis(m_x, Qt::AlignBottom);
    m_chart->addAxis(m_y, Qt::AlignLeft);
    for (QLineSeries* s : {m_pitch, m_roll}) {
        s->attachAxis(m_x);
        s->attachAxis(m_y);
    }
    for (QLineSeries* s : m_limits) {
        s->attachAxis(m_x);
        s->attachAxis(m_y);
        for (QLegendMarker* marker : m_chart->legend()->markers(s))
            marker->setVisible(false);
    }
    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("TrendView"));
    m_view->setRenderHint(QPainter::Antialiasing);

    m_window = new QComboBox(this);
    m_window->setObjectName(QStringLiteral("TrendWindow"));
    m_window->addItem(QStringLiteral("10 s"), 10'000);
    m_window->addItem(QStringLiteral("60 s"), 60'000);
    m_window->addItem(QStringLiteral("10 min"), 600'000);
    m_window->setCurrentIndex(1);
    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setObjectName(QStringLiteral("TrendPause"));
    m_pause->setCheckable(true);
    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("TrendReadout"));
    // Room for the longest readout (values are cut to 12 characters), so the
    // readout always shows in full and its changes never resize the window.
    m_readout->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    m_readout->setMinimumWidth(
        m_readout->fontMetrics().horizontalAdvance(QStringLiteral("Pitch -0.000000e+00   Roll -0.000000e+00 (deg)")));
    connect(m_pause, &QPushButton::toggled, this, [this](bool on) {
        m_frozenAt = on ? m_clock.elapsed() : -1;
        m_pause->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        repaintNow();
    });
    connect(m_window, &QComboBox::currentIndexChanged, this, [this] { repaintNow(); });

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Window:"), this));
    bar->addWidget(m_window);
    bar->addWidget(m_pause);
    bar->addStretch();
    bar->addWidget(m_readout);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view);
    resize(720, 420);

    m_repaint = new QTimer(this);
    m_repaint->setObjectName(QStringLiteral("TrendRepaint"));
    m_repaint->setInterval(RepaintMs);
    connect(m_repaint, &QTimer::timeout, this, [this] {
        sampleNow();
        repaintNow();
    });
    m_repaint->start();

    setUnit(QStringLiteral("deg"));
    applyPalette();
}

qint64 TrendChart::windowMs() const
{
    return m_window->currentData().toLongLong();
}

bool TrendChart::paused() const
{
    return m_pause->isChecked();
}

void TrendChart::setUnit(const QString& unit)
{
    if (unit == m_unit)
        return;
    m_unit = unit;
    m_y->setTitleText(QStringLiteral("Value (%1)").arg(unit));
}

void TrendChart::take(const Reading& reading)
{
    if (reading.quantity == Quantity::Pitch)
        m_pitchNow = reading;
    else if (reading.quantity == Quantity::Roll)
        m_rollNow = reading;
}

void TrendChart::sampleNow()
{
    const qint64 monotonicNow = monotonicNowMs();
    auto shown = [monotonicNow](const std::optional<Reading>& r) {
        return r && monotonicNow - r->monotonicMs <= StaleMs ? r->shownValue() : TrendHistory::Missing;
    };
    m_history.add(m_clock.elapsed(), shown(m_pitchNow), shown(m_rollNow));
    if (!paused()) {
        // Absurdly long values are shortened so the window keeps its size.
        auto readout = [](const std::optional<Reading>& r) {
            if (!r)
                return QString();
            const QString text = r->shownText().trimmed();
            return text.size() <= 12 ? text : QString::number(r->shownValue(), 'g', 6);
        };
        m_readPitch = readout(m_pitchNow);
        m_readRoll = readout(m_rollNow);
    }
}

void TrendChart::repaintNow()
{
    if (!isVisible() && sender() == m_repaint)
        return; // nothing to show: collecting goes on, drawing waits
    const qint64 now = m_frozenAt >= 0 ? m_frozenAt : m_clock.elapsed();
    m_readout->setText(QStringLiteral("Pitch %1   Roll %2 (%3)").arg(m_readPitch, m_readRoll, m_unit));
    const qint64 window = windowMs();
    m_x->setTickInterval(window <= 10'000 ? 1.0 : window <= 60'000 ? 10.0 : 60.0);
    m_pitch->replace(m_history.points(false, now, window, MaxPointsPerSeries));
    m_roll->replace(m_history.points(true, now, window, MaxPointsPerSeries));
    if (now < window)
        m_x->setRange(0.0, window / 1000.0);
    else
        m_x->setRange((now - window) / 1000.0, now / 1000.0);
    double lo = 0, hi = 0;
    bool any = m_history.range(now, window, &lo, &hi);
    // The limits' lines span the window and are kept in view, so an
    // operator sees how close the sensor is to them.
    const double x0 = m_x->min(), x1 = m_x->max();
    for (std::size_t i = 0; i < m_limits.size(); ++i) {
        const double limit = i < 4 ? m_alarm.pitchLimit : m_alarm.rollLimit;
        const double at = (i / 2) % 2 == 0 ? limit : limit - std::max(0.0, m_alarm.hysteresis);
        const double y = i % 2 == 0 ? at : -at;
        QList<QPointF> points;
        if (m_alarm.enabled && limit > 0.0 && at > 0.0) {
            points = {{x0, y}, {x1, y}};
            lo = any ? std::min(lo, y) : y;
            hi = any ? std::max(hi, y) : y;
            any = true;
        }
        m_limits[i]->replace(points);
    }
    if (any) {
        const double margin = std::max(0.05, (hi - lo) * 0.1);
        m_y->setRange(lo - margin, hi + margin);
        m_y->applyNiceNumbers();
    }
}

void TrendChart::setAlarmLimits(const AlarmSettings& settings)
{
    m_alarm = settings;
    repaintNow();
}

void TrendChart::applyPalette()
{
    // Follow the desktop's palette so the chart stays readable under a dark theme.
    const QPalette pal = palette();
    m_chart->setBackgroundBrush(pal.color(QPalette::Base));
    m_chart->setTitleBrush(pal.color(QPalette::Text));
    m_chart->legend()->setLabelColor(pal.color(QPalette::Text));
    for (QValueAxis* axis : {m_x, m_y}) {
        axis->setLabelsColor(pal.color(QPalette::Text));
        axis->setTitleBrush(pal.color(QPalette::Text));
        axis->setGridLineColor(pal.color(QPalette::Mid));
        axis->setLinePenColor(pal.color(QPalette::Text));
    }
    m_pitch->setPen(QPen(pal.color(QPalette::Highlight), 2));
    const bool dark = pal.color(QPalette::Base).lightness() < 128;
    m_roll->setPen(QPen(dark ? QColor(255, 170, 60) : QColor(200, 40, 40), 2));
    for (std::size_t i = 0; i < m_limits.size(); ++i)
        m_limits[i]->setPen(
            QPen((i < 4 ? m_pitch : m_roll)->pen().color(), 1, (i / 2) % 2 ? Qt::DashLine : Qt::SolidLine));
}

void TrendChart::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        applyPalette();
    QWidget::changeEvent(event);
}
