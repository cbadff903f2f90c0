// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/prompter.h"
#include "core/reading.h"
#include "core/recorder.h"

#include <QObject>

class QAction;
class QTimer;

// Recording to kvddt.txt: the "Record Data" items, the record timer m_recordTimer,
// the recorder and the interval prompt. Each record holds the pitch and roll
// the window shows at that tick, taken from the readings themselves.
class RecordingMenu : public QObject {
    Q_OBJECT
public:
    RecordingMenu(Prompter& prompter, QObject* parent = nullptr);

    QAction* recordingAction() const { return m_recordingAction; }
    QAction* intervalAction() const { return m_intervalAction; }
    QTimer* timer() const { return m_recordTimer; }
    Recorder& recorder() { return m_recorder; }

    // Creates the file at start-up; on failure says so and leaves recording
    // unavailable for the run, since running on would silently lose records.
    void openFile(const QString& path);
    void take(const Reading& reading);
    // Shutdown: the timer stops and the file is closed.
    void end();

    void toggleRecording();
    void askInterval();
    void recordTick();

private:
    void message(const QString& text, Prompter::Icon icon);

    Prompter& m_prompter;
    Recorder m_recorder;
    QString m_pitch; // what the value labels show now
    QString m_roll;
    QAction* m_recordingAction = nullptr;
    QAction* m_intervalAction = nullptr;
    QTimer* m_recordTimer = nullptr;
};
