#pragma once

// The sensor link: everything between the serial line and a reading value,
// without a widget, and the only place that does the line's I/O. It owns the
// serial port (a device path and a line format; object name MSComm1), the
// watchdog (Timer1), the poller (what is sent) and the decoder (what is
// received). It emits readings, frames, status texts and failures; the
// window, the recorder, the chart, the logger and the alarms consume them. It
// runs under QCoreApplication as well as under the window.
//
// A reply travels one way: QSerialPort -> SerialPortComponent::OnComm ->
// onComm -> ReplyDecoder::ProcessReply -> deliver (time-stamped, readingReady,
// and after a temperature reply frameReady); then Poller::replyConsumed has
// the next command written at once.

#include "core/calibration.h"
#include "core/decoder.h"
#include "core/poller.h"
#include "core/prompter.h"
#include "core/reading.h"
#include "core/sharedstate.h"

#include <QObject>

#include <optional>

class QTimer;
class SerialPortComponent;

class SensorLink : public QObject, private DecoderHost, private PollerHost {
    Q_OBJECT
public:
    explicit SensorLink(QObject* parent = nullptr);
    ~SensorLink() override;

    SerialPortComponent& port() { return *m_comm; }
    QTimer& watchdog() { return *m_watchdog; }

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
    // Shutdown: nothing is written or reported any more, the port is closed.
    void end();
    bool ended() const { return m_ended; }

    // The last centred pitch count shown as an angle (the "Zero" reference).
    double lastPitchCentred() const { return m_state.LastReading; }
    SharedState& state() { return m_state; }
    ReplyDecoder& decoder() { return m_decoder; }
    Poller& poller() { return *m_poller; }
    bool portResetting() const override { return m_portResetting || m_hold; }

signals:
    void readingReady(const Reading& reading);
    void frameReady(const Frame& frame);
    void handshake(); // an answer to "A" was taken
    void status(const QString& text); // for the status line
    // "Error RS232" and the like; a receiver may show it modally: polling
    // beneath waits for it to return.
    void failure(const QString& text, Prompter::Icon icon);
    // A watchdog tick found no reply since the last one; `ticks` in a row.
    void silentTick(qint64 ticks);

private:
    void onComm();
    void finishReset();

    // DecoderHost
    bool rawSelected() const override { return m_rawDisplay; }
    const Calibration& decoderCalibration() const override { return m_calibration; }
    void deliver(Reading reading) override;
    void handshakeSeen() override { emit handshake(); }
    void resetPort() override;

    // PollerHost
    bool startEnabled() const override { return m_modelChosen; }
    bool portOpen() const override;
    bool writeToPort(const QByteArray& bytes) override;
    void setWatchdog(bool on) override;
    void setStatus(const QString& text) override;
    void message(const QString& text, Prompter::Icon icon) override;
    void watchdogSilent(qint64 ticks) override { emit silentTick(ticks); }

    SharedState m_state;
    Calibration m_calibration;
    ReplyDecoder m_decoder;
    SerialPortComponent* m_comm = nullptr;
    QTimer* m_watchdog = nullptr;
    Poller* m_poller = nullptr;
    std::optional<Reading> m_framePitch; // of the cycle in progress
    std::optional<Reading> m_frameRoll;
    bool m_rawDisplay = false;
    bool m_modelChosen = false;
    bool m_portResetting = false;
    bool m_hold = false;
    bool m_ended = false;
};
