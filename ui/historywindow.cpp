// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/historywindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QSvgGenerator>
#include <QTimeZone>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>

using history::Series;

namespace {
constexpr int FollowMs = 1000;
constexpr qint64 Hour = 3'600'000, Day = 24 * Hour;

struct Colours {
    QColor text, grid, base, pitch, roll, temperature, alarm;
};

// Readable on a light and on a dark desktop alike.
Colours coloursFor(const QPalette& palette)
{
    const QColor base = palette.color(QPalette::Base), text = palette.color(QPalette::Text);
    const bool dark = base.lightness() < 128;
    QColor grid = text;
    grid.setAlpha(40);
    return {text, grid, base, dark ? QColor(100, 170, 230) : QColor(31, 119, 180),
        dark ? QColor(240, 110, 100) : QColor(214, 39, 40), dark ? QColor(120, 205, 120) : QColor(44, 150, 44),
        QColor(255, 140, 0, dark ? 70 : 50)};
}

// Round steps for a value axis: 1, 2 or 5 times a power of ten.
double niceStep(double range, int wanted)
{
    const double raw = range / std::max(wanted, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10.0 * power;
}

std::pair<Series, Series> shownSeries(const history::Data& data, const HistoryView& view)
{
    return view.change && data.hasChange() ? std::pair {Series::PitchChange, Series::RollChange}
                                           : std::pair {Series::Pitch, Series::Roll};
}

bool bandsShown(const history::Data& data, const HistoryView& view)
{
    return data.hasStatistics() && !(view.change && data.hasChange());
}

// The value axis over the rows in view: what they hold, padded a little; a
// sensor standing still gets a range around its value, not a flat line on
// an axis of zero height.
std::pair<double, double> valueRange(const history::Data& data, const HistoryView& view)
{
    if (view.fixedRange)
        return *view.fixedRange;
    const auto [first, end] = data.range(view.fromMs, view.toMs);
    double low = INFINITY, high = -INFINITY;
    const auto [a, b] = shownSeries(data, view);
    std::vector<Series> series {a, b};
    if (bandsShown(data, view))
        series.insert(series.end(), {Series::PitchLow, Series::PitchHigh, Series::RollLow, Series::RollHigh});
    for (const Series s : series)
        if (first < end)
            if (const auto e = data.extremes(s, first, end - 1)) {
                low = std::min(low, e->first);
                high = std::max(high, e->second);
            }
    if (!(low <= high))
        return {-1.0, 1.0};
    const double pad = std::max((high - low) * 0.05, 0.01);
    return {low - pad, high + pad};
}

QString timeText(qint64 ms, const HistoryView& view, bool elapsed)
{
    if (elapsed)
        return QStringLiteral("%1 s").arg(double(ms) / 1000.0);
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, view.utc ? QTimeZone::utc() : QTimeZone::systemTimeZone());
    return t.toString(
        view.utc ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz 'UTC'") : QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString number(double v, int decimals)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}
} // namespace

QRect historyPlotArea(const QRect& rect, const HistoryView& view)
{
    return rect.adjusted(64, 12, view.temperature ? -56 : -16, -34);
}

void paintHistory(QPainter& p, const QRect& rect, const history::Data& data, const HistoryView& view,
    const QPalette& palette, std::optional<int> cursorX)
{
    const Colours c = coloursFor(palette);
    p.fillRect(rect, c.base);
    const QRect plot = historyPlotArea(rect, view);
    if (plot.width() < 10 || plot.height() < 10 || view.toMs <= view.fromMs)
        return;
    const double msPerPixel = double(view.toMs - view.fromMs) / plot.width();
    const auto xOf = [&](qint64 ms) { return plot.left() + double(ms - view.fromMs) / msPerPixel; };

    // Alarm periods first, under everything, naming the axis. Spans closer
    // than a pixel are one rectangle: a year of short alarms stays quick.
    p.setPen(c.text);
    std::optional<std::pair<double, double>> shade;
    quint8 bits = 0;
    const auto flush = [&] {
        if (!shade)
            return;
        const auto [x0, x1] = *shade;
        p.fillRect(QRectF(x0, plot.top(), std::max(1.0, x1 - x0), plot.height()), c.alarm);
        const QString axes = (bits & 3) == 3 ? QStringLiteral("pitch+roll alarm")
            : (bits & 1)                     ? QStringLiteral("pitch alarm")
            : (bits & 2)                     ? QStringLiteral("roll alarm")
                                             : QStringLiteral("alarm");
        if (x1 - x0 > p.fontMetrics().horizontalAdvance(axes) + 4)
            p.drawText(QPointF(x0 + 2, plot.top() + p.fontMetrics().ascent()), axes);
        shade.reset();
        bits = 0;
    };
    for (const history::Span& s : data.alarms()) {
        if (s.toMs < view.fromMs || s.fromMs >= view.toMs)
            continue;
        const double x0 = std::max<double>(plot.left(), xOf(s.fromMs)),
                     x1 = std::min<double>(plot.right(), xOf(s.toMs));
        if (shade && x0 <= shade->second + 1.0) {
            shade->second = std::max(shade->second, x1);
        } else {
            flush();
            shade = {x0, x1};
        }
        bits |= s.alarm;
    }
    flush();

    // Axes: round times below, round values left (temperature right).
    const auto [low, high] = valueRange(data, view);
    const auto yOf
        = [&](double v, double lo, double hi) { return plot.bottom() - (v - lo) / (hi - lo) * plot.height(); };
    p.setPen(c.grid);
    p.drawRect(plot);
    const double step = niceStep(high - low, std::max(2, plot.height() / 60));
    // Counted in whole steps: a sum of steps would drift off round values.
    for (auto k = qint64(std::ceil(low / step)); double(k) * step <= high; ++k) {
        const double v = double(k) * step;
        const double y = yOf(v, low, high);
        p.setPen(c.grid);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(c.text);
        p.drawText(QRectF(rect.left(), y - 8, plot.left() - rect.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
            QString::number(std::abs(v) < step / 2 ? 0.0 : v, 'g', 6));
    }
    for (const history::Tick& t :
        history::ticks(view.fromMs, view.toMs, std::max(2, plot.width() / 110), view.utc, data.elapsed)) {
        const double x = xOf(t.ms);
        p.setPen(c.grid);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(c.text);
        p.drawText(QRectF(x - 60, plot.bottom() + 4, 120, 18), Qt::AlignHCenter | Qt::AlignTop, t.label);
    }
    const QString unit = data.unit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(data.unit);
    const auto [first, second] = shownSeries(data, view);
    p.drawText(QRectF(plot.left() + 4, rect.bottom() - 16, plot.width(), 16), Qt::AlignLeft,
        (view.change && data.hasChange() ? QStringLiteral("change since the reference") : QStringLiteral("angle"))
            + unit + (view.utc || data.elapsed ? QStringLiteral(", UTC") : QStringLiteral(", local time")));

    p.save();
    p.setClipRect(plot.adjusted(0, -1, 1, 1));
    const int width = plot.width();
    // Rows further apart than twice their usual spacing have a gap between.
    const qint64 gap = data.spacingMs() > 0 ? 2 * data.spacingMs() : std::numeric_limits<qint64>::max();
    // The interval's extremes as a band around its mean.
    if (bandsShown(data, view)) {
        for (const auto& [lowS, highS, colour] :
            {std::tuple {Series::PitchLow, Series::PitchHigh, c.pitch}, {Series::RollLow, Series::RollHigh, c.roll}}) {
            const auto lows = data.envelope(lowS, view.fromMs, view.toMs, width);
            const auto highs = data.envelope(highS, view.fromMs, view.toMs, width);
            QColor band = colour;
            band.setAlpha(55);
            // One polygon per unbroken run of columns: its top edge left to
            // right, its bottom edge back.
            QPolygonF edge;
            std::vector<QPointF> bottom;
            const auto flushBand = [&] {
                if (edge.size() > 1) {
                    edge.append(QPolygonF(QList<QPointF>(bottom.rbegin(), bottom.rend())));
                    p.setPen(Qt::NoPen);
                    p.setBrush(band);
                    p.drawPolygon(edge);
                }
                edge.clear();
                bottom.clear();
            };
            // Most columns holding rows: a line each, the painter's quick path.
            const auto filled
                = std::count_if(lows.begin(), lows.end(), [](const history::Column& col) { return !col.empty(); });
            if (filled > width / 4) {
                QVector<QLineF> lines;
                lines.reserve(filled);
                for (int x = 0; x < width; ++x)
                    if (!lows[std::size_t(x)].empty() && !highs[std::size_t(x)].empty())
                        lines.append(QLineF(plot.left() + x + 0.5, yOf(highs[std::size_t(x)].high, low, high),
                            plot.left() + x + 0.5, yOf(lows[std::size_t(x)].low, low, high)));
                p.setPen(QPen(band, 1));
                p.drawLines(lines);
                continue;
            }
            qint64 previousRow = -1;
            for (int x = 0; x < width; ++x) {
                const history::Column &lo = lows[std::size_t(x)], &hi = highs[std::size_t(x)];
                if (lo.empty() || hi.empty())
                    continue;
                if (previousRow >= 0
                    && data.rows[std::size_t(lo.first)].timeMs - data.rows[std::size_t(previousRow)].timeMs > gap)
                    flushBand(); // a gap stays a gap
                previousRow = lo.last;
                edge.append(QPointF(plot.left() + x, yOf(hi.high, low, high)));
                bottom.emplace_back(plot.left() + x, yOf(lo.low, low, high));
                if (edge.size() == 1) { // a single column still shows
                    edge.append(QPointF(plot.left() + x + 1, yOf(hi.high, low, high)));
                    bottom.emplace_back(plot.left() + x + 1, yOf(lo.low, low, high));
                }
            }
            flushBand();
        }
    }
    // Each series as a line through its columns' extremes; a gap of more
    // than twice the usual spacing stays a gap.
    auto drawSeries = [&](Series s, const QColor& colour, double lo, double hi) {
        const auto columns = data.envelope(s, view.fromMs, view.toMs, width);
        QVector<QLineF> lines;
        lines.reserve(2 * qsizetype(width));
        const history::Column* previous = nullptr;
        int previousX = 0;
        const auto valueAt = [&](qint64 row, const history::Column& col, bool last) {
            const double v = data.rows[std::size_t(row)].value(s);
            return std::isnan(v) ? (last ? col.high : col.low) : v;
        };
        for (int x = 0; x < width; ++x) {
            const history::Column& col = columns[std::size_t(x)];
            if (col.empty())
                continue;
            const double px = plot.left() + x + 0.5;
            lines.append(QLineF(px, yOf(col.low, lo, hi), px, yOf(col.high, lo, hi)));
            if (previous
                && data.rows[std::size_t(col.first)].timeMs - data.rows[std::size_t(previous->last)].timeMs <= gap)
                lines.append(
                    QLineF(plot.left() + previousX + 0.5, yOf(valueAt(previous->last, *previous, true), lo, hi), px,
                        yOf(valueAt(col.first, col, false), lo, hi)));
            previous = &col;
            previousX = x;
        }
        p.setPen(QPen(colour, 1)); // a thin pen takes the quick path for thousands of lines
        p.drawLines(lines);
    };
    drawSeries(first, c.pitch, low, high);
    drawSeries(second, c.roll, low, high);
    if (view.temperature && data.hasTemperature()) {
        const auto [f, e] = data.range(view.fromMs, view.toMs);
        auto t = f < e ? data.extremes(Series::Temperature, f, e - 1) : std::nullopt;
        if (t) {
            const double tl = t->first - 1, th = t->second + 1;
            drawSeries(Series::Temperature, c.temperature, tl, th);
            p.restore();
            p.save();
            p.setPen(c.temperature);
            const double ts = niceStep(th - tl, std::max(2, plot.height() / 60));
            for (auto k = qint64(std::ceil(tl / ts)); double(k) * ts <= th; ++k)
                p.drawText(QRectF(plot.right() + 4, yOf(double(k) * ts, tl, th) - 8, 52, 16),
                    Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("%1 °C").arg(double(k) * ts, 0, 'g', 4));
        }
    }
    p.restore();
    // The legend, and the readout's cursor.
    int lx = plot.right() - 8;
    for (const auto& [name, colour] :
        {std::pair {QStringLiteral("roll"), c.roll}, {QStringLiteral("pitch"), c.pitch}}) {
        lx -= p.fontMetrics().horizontalAdvance(name) + 8;
        p.setPen(colour);
        p.drawText(QPointF(lx, plot.top() + 2 * p.fontMetrics().height()), name);
    }
    if (cursorX && plot.contains(*cursorX, plot.center().y())) {
        p.setPen(QPen(c.text, 1, Qt::DashLine));
        p.drawLine(*cursorX, plot.top(), *cursorX, plot.bottom());
    }
}

std::optional<QString> exportHistory(
    const history::Data& data, const QString& file, const HistoryView& view, QSize size)
{
    const QString suffix = file.section(QLatin1Char('.'), -1).toLower();
    QSaveFile out(file);
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg") && suffix != QLatin1String("csv"))
        return QStringLiteral("%1: the name must end in .png, .svg or .csv").arg(file);
    if (!out.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: %2").arg(file, out.errorString());
    const QPalette palette = QApplication::palette();
    if (suffix == QLatin1String("csv")) {
        out.write(data.csv(view.fromMs, view.toMs));
    } else if (suffix == QLatin1String("png")) {
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paintHistory(painter, image.rect(), data, view, palette);
        painter.end();
        image.save(&out, "PNG");
    } else {
        QSvgGenerator svg;
        svg.setOutputDevice(&out);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(QStringLiteral("veltrak history"));
        QPainter painter(&svg);
        paintHistory(painter, QRect(QPoint(0, 0), size), data, view, palette);
    }
    if (!out.commit())
        return QStringLiteral("%1: %2").arg(file, out.errorString());
    return std::nullopt;
}

HistoryChart::HistoryChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("HistoryChart"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(480, 240);
}

void HistoryChart::setSpan(qint64 fromMs, qint64 toMs)
{
    if (toMs <= fromMs)
        toMs = fromMs + 1000;
    m_view.fromMs = fromMs;
    m_view.toMs = toMs;
    update();
    emit viewChanged();
}

void HistoryChart::showLast(qint64 spanMs)
{
    if (!m_data || m_data->rows.empty())
        return;
    const qint64 first = m_data->rows.front().timeMs, last = m_data->rows.back().timeMs + 1;
    if (spanMs <= 0) {
        const qint64 pad = std::max<qint64>((last - first) / 100, 1000);
        return setSpan(first - pad, last + pad);
    }
    setSpan(last - spanMs, last + std::max<qint64>(spanMs / 100, 1));
}

qint64 HistoryChart::timeAt(int x) const
{
    const QRect plot = historyPlotArea(rect(), m_view);
    return m_view.fromMs
        + qint64(double(x - plot.left()) * double(m_view.toMs - m_view.fromMs) / std::max(1, plot.width()));
}

void HistoryChart::zoom(double factor, qint64 aroundMs)
{
    const qint64 from = aroundMs - qint64(double(aroundMs - m_view.fromMs) * factor);
    const qint64 to = aroundMs + qint64(double(m_view.toMs - aroundMs) * factor);
    if (to - from >= 1000 && to - from <= 200LL * 365 * Day)
        setSpan(from, to);
}

void HistoryChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!m_data) {
        p.fillRect(rect(), palette().color(QPalette::Base));
        return;
    }
    paintHistory(p, rect(), *m_data, m_view, palette(), m_cursorX);
    if (m_band && m_pressed) {
        QColor band = palette().color(QPalette::Highlight);
        band.setAlpha(60);
        p.fillRect(
            QRect(QPoint(std::min(m_pressed->x(), m_bandTo), 0), QPoint(std::max(m_pressed->x(), m_bandTo), height())),
            band);
    }
}

void HistoryChart::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        zoom(std::pow(0.8, notches), timeAt(int(event->position().x())));
    event->accept();
}

void HistoryChart::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->position().toPoint();
    m_pressedFrom = m_view.fromMs;
    m_pressedTo = m_view.toMs;
    m_band = event->button() == Qt::RightButton || (event->modifiers() & Qt::ShiftModifier);
    m_bandTo = m_pressed->x();
}

void HistoryChart::mouseMoveEvent(QMouseEvent* event)
{
    const int x = int(event->position().x());
    if (m_pressed && m_band) {
        m_bandTo = x;
        update();
    } else if (m_pressed) {
        const QRect plot = historyPlotArea(rect(), m_view);
        const qint64 shift
            = qint64(double(m_pressed->x() - x) * double(m_pressedTo - m_pressedFrom) / std::max(1, plot.width()));
        setSpan(m_pressedFrom + shift, m_pressedTo + shift);
    }
    m_cursorX = x;
    if (m_data && !m_data->rows.empty()) {
        // The row nearest the pointer, if it is in view.
        const qint64 t = timeAt(x);
        auto [i, end] = m_data->range(t, t + 1);
        if (i > 0
            && (i >= qint64(m_data->rows.size())
                || t - m_data->rows[std::size_t(i - 1)].timeMs < m_data->rows[std::size_t(i)].timeMs - t))
            --i;
        const bool inView = i >= 0 && i < qint64(m_data->rows.size())
            && m_data->rows[std::size_t(i)].timeMs >= m_view.fromMs
            && m_data->rows[std::size_t(i)].timeMs < m_view.toMs;
        emit rowPointed(inView ? i : -1);
    }
    update();
}

void HistoryChart::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pressed && m_band && std::abs(int(event->position().x()) - m_pressed->x()) > 3) {
        const qint64 a = timeAt(m_pressed->x()), b = timeAt(int(event->position().x()));
        setSpan(std::min(a, b), std::max(a, b));
    }
    m_pressed.reset();
    m_band = false;
    update();
}

void HistoryChart::keyPressEvent(QKeyEvent* event)
{
    const qint64 span = m_view.toMs - m_view.fromMs, middle = m_view.fromMs + span / 2;
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return zoom(0.5, middle);
    case Qt::Key_Minus:
        return zoom(2.0, middle);
    case Qt::Key_Left:
        return setSpan(m_view.fromMs - span / 10, m_view.toMs - span / 10);
    case Qt::Key_Right:
        return setSpan(m_view.fromMs + span / 10, m_view.toMs + span / 10);
    case Qt::Key_Home:
        if (m_data && !m_data->rows.empty())
            setSpan(m_data->rows.front().timeMs, m_data->rows.front().timeMs + span);
        return;
    case Qt::Key_End:
        return showLast(span);
    default:
        QWidget::keyPressEvent(event);
    }
}

void HistoryChart::leaveEvent(QEvent*)
{
    m_cursorX.reset();
    emit rowPointed(-1);
    update();
}

HistoryWindow::HistoryWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("History"));
    setWindowTitle(QStringLiteral("History"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* bar = new QHBoxLayout;
    auto button = [this, bar](const char* name, const QString& text, auto handler) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, handler);
        bar->addWidget(b);
        return b;
    };
    button("HistoryOpenFiles", QStringLiteral("Open files..."), [this] {
        const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Open recorded files"), QString(),
            QStringLiteral("Recordings (*.csv *.txt);;All files (*)"));
        if (!files.isEmpty())
            open(files);
    });
    button("HistoryOpenFolder", QStringLiteral("Open folder..."), [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Open a folder of day files"));
        if (!folder.isEmpty())
            open({folder});
    });
    for (const auto& [name, text, span] : {std::tuple {"HistoryHour", "Hour", Hour}, {"HistoryDay", "Day", Day},
             {"HistoryWeek", "Week", 7 * Day}, {"HistoryMonth", "Month", 30 * Day}, {"HistoryAll", "All", qint64(0)}})
        button(name, QString::fromLatin1(text), [this, span = span] { m_chart->showLast(span); });
    auto check = [this, bar](const char* name, const QString& text) {
        auto* c = new QCheckBox(text, this);
        c->setObjectName(QString::fromLatin1(name));
        c->setFocusPolicy(Qt::NoFocus);
        connect(c, &QCheckBox::toggled, this, &HistoryWindow::updateChoices);
        bar->addWidget(c);
        return c;
    };
    m_change = check("HistoryChange", QStringLiteral("Change"));
    m_temperature = check("HistoryTemperature", QStringLiteral("Temperature"));
    m_utc = check("HistoryUtc", QStringLiteral("UTC"));
    {
        const QSignalBlocker quiet(m_utc); // the view's own default; the chart comes below
        m_utc->setChecked(true);
    }
    m_fixed = check("HistoryFixAxis", QStringLiteral("Fix value axis"));
    bar->addStretch();
    button("HistoryExport", QStringLiteral("Export..."), &HistoryWindow::exportShown);
    layout->addLayout(bar);
    m_chart = new HistoryChart(this);
    layout->addWidget(m_chart, 1);
    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("HistoryReadout"));
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_readout);
    setCentralWidget(central);
    m_status = new QLabel(QStringLiteral("Open a logger CSV file, a folder of day files or kvddt.txt"), this);
    m_status->setObjectName(QStringLiteral("HistoryStatus"));
    m_status->setWordWrap(true);
    statusBar()->addWidget(m_status, 1);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("HistoryProgress"));
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    statusBar()->addPermanentWidget(m_progress);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("HistoryCancel"));
    m_cancel->hide();
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_cancelled)
            m_cancelled->store(true);
    });
    statusBar()->addPermanentWidget(m_cancel);
    connect(m_chart, &HistoryChart::rowPointed, this, &HistoryWindow::showRow);
    m_follow = new QTimer(this);
    m_follow->setObjectName(QStringLiteral("HistoryFollow"));
    m_follow->setInterval(FollowMs);
    connect(m_follow, &QTimer::timeout, this, &HistoryWindow::followFiles);
    resize(1000, 560);
}

HistoryWindow::~HistoryWindow()
{
    stopLoading();
}

void HistoryWindow::stopLoading()
{
    if (m_cancelled)
        m_cancelled->store(true);
    if (m_loader.joinable())
        m_loader.join();
}

void HistoryWindow::open(const QStringList& paths)
{
    stopLoading();
    m_follow->stop();
    m_cancelled = std::make_shared<std::atomic<bool>>(false);
    m_progress->setValue(0);
    m_progress->show();
    m_cancel->show();
    m_status->setText(QStringLiteral("Reading %1...").arg(paths.join(QLatin1String(", "))));
    // Read and summarised on a thread of its own: the window, and the main
    // window's polling, go on meanwhile. Results come back as queued calls.
    const auto cancelled = m_cancelled;
    const quint64 generation = ++m_generation;
    QPointer<HistoryWindow> self(this);
    m_loader = std::thread([self, paths, cancelled, generation] {
        auto data = std::make_shared<history::Data>();
        int lastPercent = -1;
        auto error = data->load(
            paths,
            [&](qint64 done, qint64 total) {
                const int percent = total > 0 ? int(done * 100 / total) : 100;
                if (percent != lastPercent && self) {
                    lastPercent = percent;
                    QMetaObject::invokeMethod(
                        self,
                        [self, percent] {
                            if (self)
                                self->m_progress->setValue(percent);
                        },
                        Qt::QueuedConnection);
                }
            },
            cancelled.get());
        if (self)
            QMetaObject::invokeMethod(
                self,
                [self, data, error, generation] {
                    if (self)
                        self->loadFinished(generation, data, error);
                },
                Qt::QueuedConnection);
    });
}

void HistoryWindow::loadFinished(quint64 generation, std::shared_ptr<history::Data> data, std::optional<QString> error)
{
    if (generation != m_generation)
        return; // a load replaced by a newer one: its thread was joined then
    if (m_loader.joinable())
        m_loader.join();
    m_progress->hide();
    m_cancel->hide();
    if (error) {
        m_status->setText(*error);
        emit loaded();
        return;
    }
    m_data = std::move(data);
    m_chart->setData(m_data.get());
    m_change->setEnabled(m_data->hasChange());
    m_temperature->setEnabled(m_data->hasTemperature());
    m_chart->showLast(0);
    m_status->setText(m_data->summaryText());
    m_follow->start();
    emit loaded();
}

void HistoryWindow::followFiles()
{
    if (!m_data || m_data->rows.empty())
        return;
    const qint64 lastBefore = m_data->rows.back().timeMs;
    const bool atEnd = m_chart->view().toMs > lastBefore;
    if (!m_data->follow())
        return;
    // A view that showed the end keeps showing it.
    if (atEnd) {
        const qint64 span = m_chart->view().toMs - m_chart->view().fromMs;
        const qint64 shift = m_data->rows.back().timeMs - lastBefore;
        m_chart->setSpan(m_chart->view().fromMs + shift, m_chart->view().fromMs + shift + span);
    } else {
        m_chart->update();
    }
    m_status->setText(m_data->summaryText());
}

void HistoryWindow::showRow(qint64 row)
{
    if (!m_data || row < 0 || row >= qint64(m_data->rows.size())) {
        m_readout->clear();
        return;
    }
    const history::Row& r = m_data->rows[std::size_t(row)];
    QString text = timeText(r.timeMs, m_chart->view(), m_data->elapsed)
        + QStringLiteral("   pitch %1  roll %2").arg(number(r.pitch, 4), number(r.roll, 4));
    if (!std::isnan(r.pitchLow))
        text += QStringLiteral("   pitch %1 to %2  roll %3 to %4")
                    .arg(number(r.pitchLow, 2), number(r.pitchHigh, 2), number(r.rollLow, 2), number(r.rollHigh, 2));
    if (!std::isnan(r.pitchChange))
        text += QStringLiteral("   change %1, %2").arg(number(r.pitchChange, 4), number(r.rollChange, 4));
    if (!std::isnan(r.temperature))
        text += QStringLiteral("   %1 °C").arg(number(r.temperature, 2));
    if (r.samples)
        text += QStringLiteral("   samples %1").arg(r.samples);
    if (!m_data->elapsed)
        text += QStringLiteral("   alarm %1")
                    .arg(r.alarm == 0      ? QStringLiteral("ok")
                            : r.alarm == 3 ? QStringLiteral("pitch;roll")
                            : r.alarm == 1 ? QStringLiteral("pitch")
                            : r.alarm == 2 ? QStringLiteral("roll")
                                           : QStringLiteral("other"));
    m_readout->setText(text);
}

void HistoryWindow::updateChoices()
{
    HistoryView& view = m_chart->view();
    view.change = m_change->isChecked();
    view.temperature = m_temperature->isChecked();
    view.utc = m_utc->isChecked();
    if (m_fixed->isChecked() && !view.fixedRange && m_data)
        view.fixedRange = valueRange(*m_data, view);
    else if (!m_fixed->isChecked())
        view.fixedRange.reset();
    m_chart->update();
}

void HistoryWindow::exportShown()
{
    if (!m_data)
        return;
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export the span shown"), QString(),
        QStringLiteral("PNG (*.png);;SVG (*.svg);;CSV (*.csv)"));
    if (file.isEmpty())
        return;
    const auto error = exportHistory(*m_data, file, m_chart->view(), m_chart->size());
    m_status->setText(error ? *error : QStringLiteral("exported to %1").arg(file));
}
