#pragma once

#include "core/sharedstate.h"

#include <QString>

// What the decoder needs of the main window: the display choices it reads
// and the labels it writes, plus the port reset after a wrong answer to "A".
class DecoderHost {
public:
    enum class Label { LabelPitch, Lbl7PITCH, LabelRoll, Lbl8ROLL, LabelTemperature, Lbl6TEMP, Ldebug };

    virtual ~DecoderHost() = default;
    virtual bool rawSelected() const = 0; // "RAW DATA (Binary)" selected
    virtual bool thicknessChecked() const = 0; // "Thickness" checked
    virtual bool mmChecked() const = 0;
    virtual bool inchChecked() const = 0;
    virtual void setCaption(Label label, const QString& text) = 0;
    // Close the port, let pending events run once, open it again.
    virtual void resetPort() = 0;
};

// The receive side of the protocol: gathers replies in RxBuffer, converts
// them, writes the labels and clears LastCommand once a reply is consumed.
class Module2 {
public:
    Module2(SharedState& state, DecoderHost& host) : m_state(state), m_host(host) { }

    // Handles one received chunk; `chunk` is "" on return.
    void ProcessReply(QString& chunk);

private:
    void answerToA(const QString& chunk);
    bool showAngle(double offset, DecoderHost::Label value, DecoderHost::Label raw, const QString& blanks, double* c);
    void pitch();
    void roll();
    void temperature();
    bool gather(const QString& chunk); // true once the reply is complete

    SharedState& m_state;
    DecoderHost& m_host;
};
