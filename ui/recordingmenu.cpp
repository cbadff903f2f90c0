#include "ui/recordingmenu.h"

#include "core/interval.h"

#include <QAction>
#include <QTimer>

RecordingMenu::RecordingMenu(Prompter& prompter, QObject* parent) : QObject(parent), m_prompter(prompter)
{
    setObjectName(QStringLiteral("RecordingMenu"));
    mnuRecording = new QAction(QStringLiteral("Recording to kvddt.txt"), this);
    mnuRecording->setObjectName(QStringLiteral("mnuRecording"));
    mnuRecording->setCheckable(true);
    mnuInterval = new QAction(QStringLiteral("Set interval"), this);
    mnuInterval->setObjectName(QStringLiteral("mnuInterval"));
    RecTimer = new QTimer(this);
    RecTimer->setObjectName(QStringLiteral("RecTimer"));
    RecTimer->setInterval(interval::Default);
    connect(mnuRecording, &QAction::triggered, this, &RecordingMenu::mnuRecording_Click);
    connect(mnuInterval, &QAction::triggered, this, &RecordingMenu::mnuInterval_Click);
    connect(RecTimer, &QTimer::timeout, this, &RecordingMenu::RecTimer_Timer);
}

void RecordingMenu::message(const QString& text, Prompter::Icon icon)
{
    if (!m_ended)
        m_prompter.message(text, icon, AppTitle);
}

void RecordingMenu::openFile(const QString& path)
{
    if (const auto error = m_recorder.open(path)) {
        mnuRecording->setEnabled(false);
        mnuInterval->setEnabled(false);
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
    m_ended = true;
    RecTimer->stop();
    m_recorder.close();
}

void RecordingMenu::mnuRecording_Click()
{
    if (m_recorder.isOpen() && !m_ended) {
        if (RecTimer->isActive())
            RecTimer->stop();
        else
            RecTimer->start();
    }
    mnuRecording->setChecked(RecTimer->isActive());
}

void RecordingMenu::mnuInterval_Click()
{
    // A refused answer is not applied: the interval in force stays until a
    // valid one is given, so a typo cannot flood the file.
    for (;;) {
        const std::optional<QString> answer
            = m_prompter.askText(QStringLiteral("Enter interval in mS(min 100): "), AppTitle);
        if (m_ended)
            return;
        if (!answer || answer->trimmed().isEmpty()) {
            RecTimer->setInterval(interval::Default);
            message(QStringLiteral("Interval set to 1000ms"), Prompter::Icon::None);
            return;
        }
        if (const std::optional<int> ms = interval::parseAnswer(*answer)) {
            RecTimer->setInterval(*ms);
            return;
        }
    }
}

void RecordingMenu::RecTimer_Timer()
{
    if (m_ended || !RecTimer->isActive())
        return; // a tick queued before recording stopped
    const auto error = m_recorder.writeRecord(RecTimer->interval(), m_pitch, m_roll);
    if (!error)
        return;
    RecTimer->stop();
    mnuRecording->setChecked(false);
    message(QStringLiteral("Recording stopped: could not write to \"%1\": %2").arg(m_recorder.path(), *error),
        Prompter::Icon::Warning);
}
