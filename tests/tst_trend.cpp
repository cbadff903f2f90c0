// The trend chart: bounded history, decimation, and the window itself.
#include "formrig.h"
#include "ui/trendchart.h"

#include <QChart>
#include <QComboBox>
#include <QLineSeries>
#include <QValueAxis>

class TestTrend : public QObject {
    Q_OBJECT
private slots:
    void historyIsBounded();
    void decimationKeepsPeaks();
    void labelTexts();
    void chartWindow();
};

void TestTrend::historyIsBounded()
{
    TrendHistory h(10 * 60 * 1000, 10);
    // 20 minutes at 5000 samples per second.
    for (qint64 i = 0; i < 20LL * 60 * 5000; ++i)
        h.add(i / 5, double(i % 100), -double(i % 100));
    QVERIFY(h.size() <= h.capacity());
    QVERIFY(h.size() >= 59'000);
    QVERIFY(h.latest()->tMs >= 20LL * 60 * 1000 - 10);
    // Nothing older than the span survives.
    const auto pts = h.points(false, 20LL * 60 * 1000, 30LL * 60 * 1000, 100000);
    QVERIFY(pts.first().x() >= 10 * 60 - 0.01);
}

void TestTrend::decimationKeepsPeaks()
{
    TrendHistory h(600'000, 1);
    for (int t = 0; t < 60'000; ++t)
        h.add(t, t == 30'000 ? 50.0 : 1.0, t == 45'000 ? -50.0 : 2.0);
    const QList<QPointF> pitch = h.points(false, 60'000, 60'000, 200);
    const QList<QPointF> roll = h.points(true, 60'000, 60'000, 200);
    QVERIFY(pitch.size() <= 200);
    QVERIFY(roll.size() <= 200);
    auto maxY = [](const QList<QPointF>& p) {
        double m = -1e9;
        for (const QPointF& q : p)
            m = std::max(m, q.y());
        return m;
    };
    auto minY = [](const QList<QPointF>& p) {
        double m = 1e9;
        for (const QPointF& q : p)
            m = std::min(m, q.y());
        return m;
    };
    QCOMPARE(maxY(pitch), 50.0);
    QCOMPARE(minY(roll), -50.0);
    for (int i = 1; i < pitch.size(); ++i)
        QVERIFY(pitch[i].x() >= pitch[i - 1].x());
    // A short window shows only its own samples, in seconds.
    const QList<QPointF> last = h.points(false, 60'000, 10, 100);
    QCOMPARE(last.size(), 10);
    QCOMPARE(last.last().x(), 59.999);
    double lo = 0, hi = 0;
    QVERIFY(h.range(60'000, 60'000, &lo, &hi));
    QCOMPARE(lo, -50.0);
    QCOMPARE(hi, 50.0);
}

void TestTrend::labelTexts()
{
    QCOMPARE(TrendHistory::valueOf(QStringLiteral("-03.35")), -3.35);
    QCOMPARE(TrendHistory::valueOf(QStringLiteral("0.0318")), 0.0318);
    QVERIFY(std::isnan(TrendHistory::valueOf(QStringLiteral("    "))));
    QVERIFY(std::isnan(TrendHistory::valueOf(QStringLiteral("OK"))));
    TrendHistory h;
    h.add(0, TrendHistory::Missing, 1.0);
    QVERIFY(h.points(false, 0, 1000, 10).isEmpty());
    QCOMPARE(h.points(true, 0, 1000, 10).size(), 1);
}

void TestTrend::chartWindow()
{
    FormRig r;
    r.form->Form_Load();
    r.a("MZ4")->trigger();
    QVERIFY(r.a("mnuTrend"));
    QCOMPARE(r.a("mnuTrend")->text(), QStringLiteral("Trend chart"));
    r.a("mnuTrend")->trigger();
    TrendChart* chart = r.form->trendChart();
    QVERIFY(chart && chart->isVisible());
    QCOMPARE(chart->objectName(), QStringLiteral("TrendChart"));
    QCOMPARE(chart->windowMs(), 60'000);
    for (int i = 0; i < 5; ++i) {
        r.reply("B", QString::number(0x800 + i * 10, 16) + QLatin1Char('\n'));
        r.reply("C", QStringLiteral("7F0\n"));
        QTest::qWait(15);
    }
    QTRY_VERIFY(chart->pitchSeries()->count() >= 5);
    QVERIFY(chart->rollSeries()->count() >= 5);
    QCOMPARE(chart->pitchSeries()->at(chart->pitchSeries()->count() - 1).y(), 40.0);
    QTRY_VERIFY(chart->findChild<QLabel*>("TrendReadout")->text().contains(QStringLiteral("40.00")));
    auto* yAxis = qobject_cast<QValueAxis*>(chart->pitchSeries()->attachedAxes().value(1));
    QVERIFY(yAxis);
    QCOMPARE(yAxis->titleText(), QStringLiteral("Value (deg)"));

    // Paused: new values are collected but not drawn.
    chart->findChild<QPushButton*>("TrendPause")->click();
    QVERIFY(chart->paused());
    const int drawn = chart->pitchSeries()->count();
    QTest::qWait(20);
    r.reply("B", QStringLiteral("900\n"));
    QTest::qWait(3 * TrendChart::RepaintMs);
    QCOMPARE(chart->pitchSeries()->count(), drawn);
    chart->findChild<QPushButton*>("TrendPause")->click();
    QTRY_COMPARE(chart->pitchSeries()->count(), drawn + 1);

    // Thickness mode: the unit of the value is on the axis.
    r.a("MnuThickness")->trigger();
    r.a("MnuInch")->trigger();
    r.reply("B", QStringLiteral("8FB\n"));
    QCOMPARE(yAxis->titleText(), QStringLiteral("Value (in)"));
    chart->findChild<QComboBox*>("TrendWindow")->setCurrentIndex(0);
    QCOMPARE(chart->windowMs(), 10'000);
    // One window only, reused.
    r.a("mnuTrend")->trigger();
    QCOMPARE(r.form->findChildren<TrendChart*>().size(), 1);
}

QTEST_MAIN(TestTrend)
#include "tst_trend.moc"
