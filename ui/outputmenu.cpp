// The "Format", "Record Data" and "Help" menus.
#include "ui/form1.h"
#include "core/about.h"
#include "core/interval.h"
#include "ui/trendchart.h"

#include <QAction>
#include <QLabel>
#include <QTimer>

void Form1::Mnudegrees_Click()
{
    Mnudegrees->setChecked(true);
    MnuInch->setChecked(false);
    Mnumm->setChecked(false);
    Label4[0]->setText(QStringLiteral("Angle(Deg)"));
}

void Form1::MnuInch_Click()
{
    Mnudegrees->setChecked(false);
    MnuInch->setChecked(true);
    Mnumm->setChecked(false);
    Label4[0]->setText(QStringLiteral("Thickness(in)"));
}

void Form1::Mnumm_Click()
{
    Mnudegrees->setChecked(false);
    MnuInch->setChecked(false);
    Mnumm->setChecked(true);
    Label4[0]->setText(QStringLiteral("Thickness(mm)"));
}

void Form1::MnuZero_Click()
{
    m_state.ZeroReference = m_state.LastReading;
}

void Form1::MnuTrueZero_Click()
{
    m_state.ZeroReference = 130.0;
}

void Form1::mnuRecording_Click()
{
    if (m_recorder.isOpen() && !m_ended) {
        if (RecTimer->isActive())
            RecTimer->stop();
        else
            RecTimer->start();
    }
    mnuRecording->setChecked(RecTimer->isActive());
}

void Form1::mnuInterval_Click()
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

void Form1::RecTimer_Timer()
{
    if (m_ended || !RecTimer->isActive())
        return; // a tick queued before recording stopped
    flushDisplay(); // record the latest values, not those of the last screen refresh
    if (const auto error = m_recorder.writeRecord(RecTimer->interval(), LabelPitch->text(), LabelRoll->text()))
        stopRecordingAfterFailure(*error);
}

void Form1::stopRecordingAfterFailure(const QString& reason)
{
    RecTimer->stop();
    mnuRecording->setChecked(false);
    message(QStringLiteral("Recording stopped: could not write to \"%1\": %2").arg(m_recorder.path(), reason),
        Prompter::Icon::Warning);
}

void Form1::mnuabout_Click()
{
    if (!m_ended)
        m_prompter.message(about::text(), Prompter::Icon::None, about::MakerName);
}

QString Form1::trendUnit() const
{
    if (!MnuThickness->isChecked())
        return QStringLiteral("deg");
    switch (checkedUnit()) {
    case conversion::ThicknessUnit::Millimetres:
        return QStringLiteral("mm");
    case conversion::ThicknessUnit::Inches:
        return QStringLiteral("in");
    case conversion::ThicknessUnit::Degrees:
        break;
    }
    return QStringLiteral("deg");
}

void Form1::mnuTrend_Click()
{
    if (m_ended)
        return;
    if (!m_trend) {
        m_trend = new TrendChart(this);
        m_trend->setUnit(trendUnit());
    }
    m_trend->show();
    m_trend->raise();
    m_trend->activateWindow();
}
