#pragma once

#include "core/calibration.h"
#include "core/reading.h"
#include "core/sharedstate.h"

#include <QString>

// What the decoder needs of its owner: the display choice and calibration it
// converts with, where readings go, and the port reset after a wrong answer
// to "A".
class DecoderHost {
public:
    virtual ~DecoderHost() = default;
    virtual bool rawSelected() const = 0; // "RAW DATA (Binary)" selected
    virtual const Calibration& decoderCalibration() const = 0;
    virtual void deliver(Reading reading) = 0;
    virtual void handshakeSeen() = 0; // both raw columns read "OK"
    virtual void setStatus(const QString& text) = 0;
    // Close the port and open it again once pending events have run; nothing
    // may be written in between.
    virtual void resetPort() = 0;
};

// The receive side of the protocol: gathers replies in RxBuffer, turns each
// complete one into a reading and clears LastCommand once it is consumed.
class ReplyDecoder {
public:
    ReplyDecoder(SharedState& state, DecoderHost& host) : m_state(state), m_host(host) { }

    // Handles one received chunk; `chunk` is "" on return.
    void ProcessReply(QString& chunk);

private:
    void answerToA(const QString& chunk);
    Reading angle(Quantity quantity, double offset);
    void pitch();
    void roll();
    void temperature();
    bool gather(const QString& chunk); // true once the reply is complete

    SharedState& m_state;
    DecoderHost& m_host;
};
