// SPDX-License-Identifier: GPL-3.0-or-later
// The publisher's queue rules without a broker: a script of what the
// publisher and the connection do, and what left, in which order, and what
// was dropped.
#include "logger/publishqueue.h"

#include <QTest>

#include <vector>

class TestPublishQueue : public QObject {
    Q_OBJECT

private slots:
    void rules_data()
    {
        QTest::addColumn<QList<int>>("limits"); // readings, events, in flight
        // r<n>: a reading of QoS 0, R<n>: of QoS 1, e<n>: an event (QoS 1);
        // send: hand over what may go; ack: the broker confirms all in
        // flight; lose: the connection goes; stuck: the next message could
        // not be handed over; big: the next one can never be; report: what
        // was dropped since the last report; close, drop, open.
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("sent"); // handed over in this order, reports in brackets
        QTest::addColumn<QString>("counters"); // published dropped droppedEvents queued inFlight
        const QList<int> roomy {100, 100, 100};
        QTest::newRow("order kept across kinds") << roomy << "r1 e2 r3 send"
                                                 << "r1 e2 r3"
                                                 << "0 0 0 0 3";
        QTest::newRow("full readings drop the oldest, never an event")
            << QList<int> {2, 100, 100} << "r1 e2 r3 r4 r5 send"
            << "e2 r4 r5"
            << "0 2 0 0 3";
        QTest::newRow("events have a bound of their own") << QList<int> {100, 2, 100} << "e1 r2 e3 e4 send"
                                                          << "r2 e3 e4"
                                                          << "0 0 1 0 3";
        QTest::newRow("in flight bounded until confirmed") << QList<int> {100, 100, 2} << "r1 r2 r3 send ack send"
                                                           << "r1 r2 r3"
                                                           << "2 0 0 0 1";
        QTest::newRow("a reconnect sends QoS 0 again, first; QoS 1 stays in flight")
            << roomy << "r1 R2 r3 send r4 lose send"
            << "r1 R2 r3 r1 r3 r4"
            << "0 0 0 0 4";
        QTest::newRow("what comes back to a full queue drops the oldest")
            << QList<int> {2, 100, 100} << "r1 r2 send r3 lose send"
            << "r1 r2 r2 r3"
            << "0 1 0 0 2";
        QTest::newRow("dropped while away told once") << QList<int> {1, 1, 100} << "r1 r2 e3 e4 report r5 report report"
                                                      << "[2] [1] [0]"
                                                      << "0 2 1 2 0";
        QTest::newRow("closed: nothing new, the rest dropped, then open again")
            << roomy << "r1 e2 close r3 send drop open r4 send"
            << "r1 e2 r4"
            << "0 1 0 0 3";
        QTest::newRow("closed keeps what waits") << roomy << "r1 close send"
                                                 << "r1"
                                                 << "0 0 0 0 1";
        QTest::newRow("closing drops what waits") << roomy << "r1 e2 close drop"
                                                  << ""
                                                  << "0 1 1 0 0";
        QTest::newRow("unsendable dropped, not retried") << roomy << "r1 big r2 send"
                                                         << "r2"
                                                         << "0 1 0 0 1";
        QTest::newRow("given back stays first") << roomy << "r1 r2 stuck send"
                                                << "r1 r2"
                                                << "0 0 0 0 2";
    }

    void rules()
    {
        QFETCH(QList<int>, limits);
        QFETCH(QString, script);
        QFETCH(QString, sent);
        QFETCH(QString, counters);
        PublishQueue queue(PublishQueue::Limits {limits[0], limits[1], limits[2]});
        QStringList out;
        std::vector<int> inFlight;
        int nextId = 1;
        for (const QString& step : script.split(' ')) {
            const QChar kind = step[0];
            if (step.size() > 1 && step[1].isDigit() && QStringLiteral("rRe").contains(kind)) {
                queue.add(PublishQueue::Message {0, kind == 'e', kind == 'r' ? 0 : 1, false, "t", step.toUtf8()});
            } else if (step == "send") {
                while (auto message = queue.takeNext()) {
                    out << QString::fromUtf8(message->payload);
                    inFlight.push_back(nextId);
                    queue.handedOver(nextId++, std::move(*message));
                }
            } else if (step == "ack") {
                for (const int id : inFlight)
                    queue.confirm(id);
                QVERIFY(!queue.confirm(inFlight.front())); // an id is confirmed once
                inFlight.clear();
            } else if (step == "lose") {
                queue.connectionLost();
            } else if (step == "stuck" || step == "big") {
                auto message = queue.takeNext();
                QVERIFY(message);
                if (step == "stuck")
                    queue.giveBack(std::move(*message));
                else
                    queue.dropUnsendable(*message);
            } else if (step == "report") {
                out << QStringLiteral("[%1]").arg(queue.takeDroppedSinceReport());
            } else if (step == "close") {
                queue.close();
            } else if (step == "drop") {
                queue.dropWaiting();
            } else if (step == "open") {
                queue.open();
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
        }
        QCOMPARE(out.join(' '), sent);
        const PublishQueue::Counters c = queue.counters();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(c.published)
                     .arg(c.dropped)
                     .arg(c.droppedEvents)
                     .arg(c.queued)
                     .arg(c.inFlight),
            counters);
        QCOMPARE(queue.isEmpty(), c.queued == 0 && c.inFlight == 0);
    }
};

QTEST_GUILESS_MAIN(TestPublishQueue)
#include "tst_publishqueue.moc"
