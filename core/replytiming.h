// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/lineformat.h"

#include <QtGlobal>

#include <array>

// When a reply will be whole, on a line that really runs at its baud rate.
// Linux's line discipline wakes a reader at every character it receives,
// whatever read threshold is set, so a program that listens while a reply is
// on the wire is woken once per character; one that listens only once the
// reply is whole is woken once per reply.
//
// A value: the serial line tells it what went out and when a reply was
// whole, it answers how long to wait before listening. It holds back only on
// a line that has shown it is paced (a pseudo-terminal without a baud rate
// answers at once, and waiting there would only slow it down), and for as
// long as the quickest of the last few replies it listened for at once took,
// less one character: the wire time, plus whatever the sensor adds, up to
// twice the wire time. Now and then a command goes without a hold, to
// measure the line again.
class ReplyTiming {
public:
    // Held back only for replies that take at least this long on the wire:
    // below it a timer costs as much as the wake-ups it saves.
    static constexpr qint64 MinimumHoldUs = 1000;
    // One command in ProbeEvery goes without a hold, to measure the line.
    static constexpr int ProbeEvery = 64;
    // How many of those measurements the hold is taken from.
    static constexpr int Remembered = 4;

    // Forgets what was learned about the line: a new format, a new device.
    void setFormat(const LineFormat& format);

    // Microseconds to wait after `sent` bytes went out before listening for
    // a reply of `awaited` bytes; 0: listen at once.
    qint64 holdUs(int sent, int awaited);
    // The reply to the last command was whole `elapsedUs` after the command
    // went out; `held`: it was listened for only after a hold, so it may
    // have been whole earlier and says nothing of the line.
    void replyWhole(qint64 elapsedUs, bool held);

private:
    double m_characterUs = 10.0 * 1e6 / 19200; // start and stop bits included
    qint64 m_lastWireUs = 0;
    // What the last replies listened for at once took beyond their wire time.
    std::array<qint64, Remembered> m_beyondWireUs {};
    int m_measured = 0; // of m_beyondWireUs, up to Remembered
    int m_next = 0; // the one to replace next
    int m_sinceProbe = 0;
    bool m_paced = false;
};
