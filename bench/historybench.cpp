// SPDX-License-Identifier: GPL-3.0-or-later
// The History window over a year of one-minute rows: how soon the whole
// year is drawn against a plain loop that only reads the files and splits
// their lines, how fast it redraws at every scale, how long the window's
// event loop waits while a year loads, and what memory the rows take.
#include "core/history.h"
#include "ui/historywindow.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

long rssKiB(); // bench.cpp

namespace {
constexpr int Days = 365, RowsPerDay = 1440;

// A year of the logger's day files, with statistics and change columns.
qint64 writeYear(const QString& dir, QStringList& paths)
{
    qint64 bytes = 0;
    const QDate first(2025, 12, 1);
    char line[256];
    for (int d = 0; d < Days; ++d) {
        const QDate day = first.addDays(d);
        const QString path = QDir(dir).filePath(day.toString(Qt::ISODate) + QStringLiteral(".csv"));
        QByteArray content = "time,elapsed,pitch,roll,temperature,unit,alarm,pitch_min,pitch_max,roll_min,roll_max,"
                             "samples,pitch_change,roll_change\r\n";
        content.reserve(qsizetype(RowsPerDay) * 110);
        for (int m = 0; m < RowsPerDay; ++m) {
            const double x = d + m / double(RowsPerDay);
            const double p = 2 + 1.5 * std::sin(x / 29.0) + 0.2 * std::sin(m / 7.0), r = -1 + 0.8 * std::cos(x / 41.0);
            const int n = std::snprintf(line, sizeof line,
                "%s-%02d-%02dT%02d:%02d:00.000Z,%d.000,%.4f,%.4f,%.2f,deg,%s,%.2f,%.2f,%.2f,%.2f,%d,%.4f,%.4f\r\n",
                qPrintable(QString::number(day.year())), day.month(), day.day(), m / 60, m % 60,
                (d * RowsPerDay + m) * 60, p, r, 20 + 5 * std::sin(m / 229.0), p > 3.4 ? "pitch" : "ok", p - 0.05,
                p + 0.05, r - 0.03, r + 0.03, 9000 + m % 7, p - 2, r + 1);
            content.append(line, n);
        }
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return -1;
        bytes += content.size();
        paths << path;
    }
    return bytes;
}

// The baseline: a plain C++ loop that reads every file line by line and
// splits each line at its commas, converting nothing.
double plainRead(const QStringList& paths, qint64& lines)
{
    QElapsedTimer t;
    t.start();
    lines = 0;
    std::string line;
    std::vector<std::string_view> fields;
    std::size_t seen = 0;
    for (const QString& path : paths) {
        std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
        while (std::getline(in, line)) {
            fields.clear();
            std::string_view rest(line);
            for (std::size_t comma; (comma = rest.find(',')) != std::string_view::npos; rest.remove_prefix(comma + 1))
                fields.push_back(rest.substr(0, comma));
            fields.push_back(rest);
            seen += fields.size();
            ++lines;
        }
    }
    return seen > 0 ? double(t.nsecsElapsed()) / 1e9 : 0.0;
}
} // namespace

void historyBench()
{
    QTemporaryDir dir;
    QStringList paths;
    const qint64 bytes = writeYear(dir.path(), paths);
    if (bytes < 0) {
        std::printf("history: cannot write the year's files\n");
        return;
    }
    qint64 lines = 0;
    plainRead(paths, lines); // both read from the page cache
    const double baseline = plainRead(paths, lines);

    const long before = rssKiB();
    QElapsedTimer t;
    t.start();
    auto data = std::make_unique<history::Data>();
    (void)data->load({dir.path()});
    const double loadS = double(t.nsecsElapsed()) / 1e9;
    HistoryView view;
    view.fromMs = data->rows.front().timeMs;
    view.toMs = data->rows.back().timeMs + 1;
    QImage image(1200, 600, QImage::Format_RGB32);
    {
        QPainter p(&image);
        paintHistory(p, image.rect(), *data, view, QPalette());
    }
    const double open = double(t.nsecsElapsed()) / 1e9;
    const long after = rssKiB();
    if (qEnvironmentVariableIsSet("VELTRAK_BENCH_DETAIL"))
        std::printf("  (load %.3f s, first picture %.3f s)\n", loadS, open - loadS);
    std::printf("history open: %.3f s, baseline %.3f s, ratio %.2f   (%zu rows of %lld lines; target ratio <= 3)\n",
        open, baseline, open / baseline, data->rows.size(), lines);

    // 50 zooms and pans, from the whole year down to minutes.
    std::vector<double> redraws;
    QRandomGenerator random(1);
    const qint64 year = view.toMs - view.fromMs;
    const int redrawCount = qEnvironmentVariableIntValue("VELTRAK_BENCH_REDRAWS") > 0
        ? qEnvironmentVariableIntValue("VELTRAK_BENCH_REDRAWS")
        : 50;
    for (int i = 0; i < redrawCount; ++i) {
        const qint64 span = std::max<qint64>(60'000, qint64(double(year) / std::pow(2.0, i % 20)));
        const qint64 from = view.fromMs + qint64(random.bounded(1.0) * double(std::max<qint64>(1, year - span)));
        HistoryView v = view;
        v.fromMs = from;
        v.toMs = from + span;
        QElapsedTimer r;
        r.start();
        QPainter p(&image);
        paintHistory(p, image.rect(), *data, v, QPalette());
        p.end();
        redraws.push_back(double(r.nsecsElapsed()) / 1e6);
        if (qEnvironmentVariableIsSet("VELTRAK_BENCH_DETAIL"))
            std::printf("  span %lld s: %.1f ms\n", span / 1000, redraws.back());
    }
    std::sort(redraws.begin(), redraws.end());
    std::printf("history redraw: median %.1f ms, worst %.1f ms   (target < 30 ms)\n", redraws[redraws.size() / 2],
        redraws.back());

    // The window's event loop while the same year loads on its thread.
    HistoryWindow window;
    window.show();
    QEventLoop loop;
    QObject::connect(&window, &HistoryWindow::loaded, &loop, &QEventLoop::quit);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QElapsedTimer gap;
    qint64 longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    gap.start();
    tick.start();
    window.open({dir.path()});
    loop.exec();
    window.repaint(); // the first picture is part of it
    longest = std::max(longest, gap.restart());
    std::printf("history stall: %lld ms   (target < 50 ms)\n", longest);
    std::printf("history memory: +%.1f MB for %.1f MB of files   (target: at most the files' size)\n",
        double(after - before) / 1024.0, double(bytes) / 1048576.0);
}
