// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sensor link: everything between the serial line and a reading value,
// without a widget, and the only place that does the line's I/O. It owns the
// serial port (a device path and a line format; object name MSComm1), the
// watchdog (Timer1), the poller (what is sent) and the decoder (what is
// received). It emits readings, frames, status texts and failures; the
// window, the recorder, the chart, the logger and the alarms consume them. It
// runs under QCoreApplication as well as under the window.
//
// A reply travels one way: the kernel wakes the program once the awaited
// reply's length has arrived -> SerialLine::received(bytes) -> onReceived ->
// ReplyDecoder::take (a value: reading, handshake, reset) -> deliver
// (time-stamped, readingReady, and after a temperature reply frameReady);
// then Poller::replyConsumed returns the next command, which perform()
// writes at once. Whatever arrived short of a whole reply is taken at the
// watchdog's tick, before the tick judges the silence. end() is the one
// shutdown: the watchdog stops, the port closes and every receiver is
// disconnected. Failures leave the link as values; the window and the
// logger word them.

#include "core/calibration.h"
#include "core/decoder.h"
#include "core/linefailure.h"
#include "core/lineformat.h"
#include "core/poller.h"
#include "core/reading.h"

#include <QObject>

#include <optional>

class QTimer;
class SerialLine;

class SensorLink : public QObject {
    Q_OBJECT
public:
    explicit SensorLink(QObject* parent = nullptr);
    ~SensorLink() override;

    // The serial line: opened on a device with a line format (an open line
    // is closed first), closed, and its state. A line format set while
    // closed holds for the next open.
    [[nodiscard]] std::optional<LineFailure> open(const QString& device, const LineFormat& format);
    void close();
    bool isOpen() const;
    QString device() const;
    LineFormat lineFormat() const;
    [[nodiscard]] std::optional<LineFailure> setLineFormat(const LineFormat& format);

    // What turns counts into values; applies from the next reply on.
    void setCalibration(const Calibration& calibration) { m_calibration = calibration; }
    const Calibration& calibration() const { return m_calibration; }
    // Counts instead of values ("RAW DATA (Binary)").
    void setRawDisplay(bool on) { m_rawDisplay = on; }
    // Start refuses to poll until a model has been chosen.
    void setModelChosen(bool on) { m_modelChosen = on; }

    void startPolling(); // start polling (another press nests a cycle)
    void sendInitialisation(); // send the initialisation once
    // Drops every cycle and whatever was awaited, stops the watchdog and
    // closes the port: the state of a link that was never started.
    void stopPolling();
    // Holds the next command back (the port stays open and the watchdog
    // quiet) until released, for a line left quiet between samples.
    void setHold(bool on);
    // Shutdown, in one place: the watchdog stops, the port closes, every
    // receiver is disconnected; nothing is written or reported any more.
    void end();
    bool ended() const { return m_ended; }

    // The last centred pitch count shown as an angle (the "Zero" reference).
    double lastPitchCentred() const { return m_lastPitchCentred; }
    // Watchdog ticks that found no sign of life, since polling started.
    qint64 silentTicks() const { return m_poller.silentTicks(); }
    bool portResetting() const { return m_portResetting; }

signals:
    void readingReady(const Reading& reading);
    void frameReady(const Frame& frame);
    void handshake(); // an answer to "A" was taken
    void status(const QString& text); // the thickness mode's count, for the status line
    // Polling was asked for before a model was chosen.
    void modelMissing();
    // A command could not be written; a receiver may show this modally:
    // polling beneath waits for it to return.
    void lineFailed(const LineFailure& failure);
    // A watchdog tick found no reply since the last one: `ticks` so far, and
    // the characters of the reply gathered until now.
    void silent(qint64 ticks, const QString& partial);

private:
    void onReceived(const QByteArray& bytes);
    void onWatchdog();
    void finishReset();
    // Decodes a chunk: the port reset, the handshake, the status and the
    // reading it brings; whether it consumed the awaited reply.
    std::optional<bool> decode(const QString& chunk, char awaited);
    // Asks the kernel to wake the program once the rest of the awaited reply is in.
    void wakeForReply();
    void deliver(Reading reading);
    // Performs the poller's answer: writes (each outcome told back), the
    // watchdog, reports.
    void perform(const Poller::Actions& actions);
    bool held() const { return m_portResetting || m_hold; }

    Calibration m_calibration;
    ReplyDecoder m_decoder;
    Poller m_poller;
    SerialLine* m_line = nullptr;
    QTimer* m_watchdog = nullptr;
    std::optional<Reading> m_framePitch; // of the cycle in progress
    std::optional<Reading> m_frameRoll;
    double m_lastPitchCentred = 0.0;
    bool m_rawDisplay = false;
    bool m_modelChosen = false;
    bool m_portResetting = false;
    bool m_hold = false;
    bool m_ended = false;
};
