// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/recordingmenu.h"

#include "core/interval.h"

#include <QAction>
#include <QTimer>

RecordingMenu::RecordingMenu(Prompter& prompter, QObject* parent) : QObject(parent), m_prompter(prompter)
{
    setObjectName(QStringLiteral("RecordingMenu"));
    m_recordingAction = new QAction(QStringLiteral("Recording to kvddt.txt"), this);
    m_recordingAction->setObjectName(QStringLiteral("mnuRecording"));
    m_recordingAction->setCheckable(true);
    m_intervalAction = new QAction(QStringLiteral("Set interval"), this);
    m_intervalAction->setObjectName(QStringLiteral("mnuInterval"));
    m_recordTimer = new QTimer(this);
    m_recordTimer->setObjectName(QStringLiteral("RecTimer"));
    m_recordTimer->setInterval(interval::Default);
    connect(m_recordingAction, &QAction::triggered, this, &RecordingMenu::toggleRecording);
    connect(m_intervalAction, &QAction::triggered, this, &RecordingMenu::askInterval);
    connect(m_recordTimer, &QTimer::timeout, this, &RecordingMenu::recordTick);
}

void RecordingMenu::message(const QString& text, Prompter::Icon icon)
{
    m_prompter.message(text, icon, AppTitle);
}

void RecordingMenu::openFile(const QString& path)
{
    if (const auto error = m_recorder.open(path)) {
        m_recordingAction->setEnabled(false);
        m_intervalAction->setEnabled(false);
        message(QStringLiteral(
                    "The recording file \"%1\" could not be created: %2\nRecording is not available in this run.")
                    .arg(path, *error),
            Prompter::Icon::Warning);
    }
}

void RecordingMenu::take(const Reading& reading)
{
    if (reading.quantity == Quantity::Pitch)
        m_pitch = reading.valueColumnText();
    else if (reading.quantity == Quantity::Roll)
        m_roll = reading.valueColumnText();
}

void RecordingMenu::end()
{
    m_recordTimer->stop();
    m_recorder.close();
}

void RecordingMenu::toggleRecording()
{
    if (m_recorder.isOpen()) {
        if (m_recordTimer->isActive())
            m_recordTimer->stop();
        else
            m_recordTimer->start();
    }
    m_recordingAction->setChecked(m_recordTimer->isActive());
}

void RecordingMenu::askInterval()
{
    // A refused answer is not applied: the interval in force stays until a
    // valid one is given, so a typo cannot flood the file.
    for (;;) {
        const std::optional<QString> answer
            = m_prompter.askText(QStringLiteral("Enter interval in mS(min 100): "), AppTitle);
        if (!answer || answer->trimmed().isEmpty()) {
            m_recordTimer->setInterval(interval::Default);
            message(QStringLiteral("Interval set to 1000ms"), Prompter::Icon::None);
            return;
        }
        if (const std::optional<int> ms = interval::parseAnswer(*answer)) {
            m_recordTimer->setInterval(*ms);
            return;
        }
    }
}

void RecordingMenu::recordTick()
{
    if (!m_recordTimer->isActive())
        return; // a tick queued before recording stopped
    const auto error = m_recorder.writeRecord(m_recordTimer->interval(), m_pitch, m_roll);
    if (!error)
        return;
    m_recordTimer->stop();
    m_recordingAction->setChecked(false);
    message(QStringLiteral("Recording stopped: could not write to \"%1\": %2").arg(m_recorder.path(), *error),
        Prompter::Icon::Warning);
}
