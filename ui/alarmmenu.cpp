// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/alarmmenu.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace {
const QString Group = QStringLiteral("alarm/");

QDoubleSpinBox* degrees(QWidget* parent, const char* name, double value)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(0.0, 90.0);
    box->setDecimals(2);
    box->setSingleStep(0.1);
    box->setSuffix(QStringLiteral(" deg"));
    box->setValue(value);
    return box;
}
} // namespace

TiltAlarm::TiltAlarm(const AlarmSettings& s, const QString& offWhy, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TiltAlarm"));
    setWindowTitle(QStringLiteral("Tilt alarm"));
    m_on = new QCheckBox(QStringLiteral("Alarm on"), this);
    m_on->setObjectName(QStringLiteral("AlarmOn"));
    m_on->setChecked(s.enabled);
    m_pitch = degrees(this, "AlarmPitch", s.pitchLimit);
    m_roll = degrees(this, "AlarmRoll", s.rollLimit);
    m_hysteresis = degrees(this, "AlarmHysteresis", s.hysteresis);
    m_hold = new QSpinBox(this);
    m_hold->setObjectName(QStringLiteral("AlarmHold"));
    m_hold->setRange(0, 3'600'000);
    m_hold->setSingleStep(100);
    m_hold->setSuffix(QStringLiteral(" ms"));
    m_hold->setValue(s.holdMs);

    auto* form = new QFormLayout;
    form->addRow(m_on);
    form->addRow(QStringLiteral("Pitch limit (0 = off):"), m_pitch);
    form->addRow(QStringLiteral("Roll limit (0 = off):"), m_roll);
    form->addRow(QStringLiteral("Hysteresis:"), m_hysteresis);
    form->addRow(QStringLiteral("Hold time:"), m_hold);
    auto* note = new QLabel(offWhy, this);
    note->setObjectName(QStringLiteral("AlarmNote"));
    note->setWordWrap(true);
    note->setVisible(!offWhy.isEmpty());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("AlarmOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("AlarmCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        emit settingsAccepted(settings());
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

AlarmSettings TiltAlarm::settings() const
{
    AlarmSettings s;
    s.enabled = m_on->isChecked();
    s.pitchLimit = m_pitch->value();
    s.rollLimit = m_roll->value();
    s.hysteresis = m_hysteresis->value();
    s.holdMs = m_hold->value();
    return s;
}

AlarmMenu::AlarmMenu(QString logPath, QObject* parent) : QObject(parent), m_logPath(std::move(logPath))
{
    setObjectName(QStringLiteral("AlarmMenu"));
    m_alarmAction = new QAction(QStringLiteral("Tilt alarm..."), this);
    m_alarmAction->setObjectName(QStringLiteral("mnuAlarm"));
    connect(m_alarmAction, &QAction::triggered, this, &AlarmMenu::openAlarmSettings);
    const QSettings stored;
    m_wanted.enabled = stored.value(Group + QStringLiteral("on"), false).toBool();
    m_wanted.pitchLimit = stored.value(Group + QStringLiteral("pitch"), 5.0).toDouble();
    m_wanted.rollLimit = stored.value(Group + QStringLiteral("roll"), 5.0).toDouble();
    m_wanted.hysteresis = stored.value(Group + QStringLiteral("hysteresis"), 0.1).toDouble();
    m_wanted.holdMs = stored.value(Group + QStringLiteral("hold"), 0).toInt();
    refresh(QDateTime::currentMSecsSinceEpoch());
}

QString AlarmMenu::offWhy() const
{
    if (m_calibration.thickness)
        return QStringLiteral("Alarms are off in thickness mode: the value shown is no angle.");
    if (m_calibration.counts || m_rawDisplay)
        return QStringLiteral("Alarms are off for raw data: the values shown are counts, not angles.");
    return {};
}

void AlarmMenu::openAlarmSettings()
{
    auto* dialog = new TiltAlarm(m_wanted, offWhy(), qobject_cast<QWidget*>(parent()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &TiltAlarm::settingsAccepted, this, &AlarmMenu::apply);
    dialog->show(); // not modal: polling and recording go on
}

void AlarmMenu::apply(const AlarmSettings& settings)
{
    m_wanted = settings;
    QSettings stored;
    stored.setValue(Group + QStringLiteral("on"), settings.enabled);
    stored.setValue(Group + QStringLiteral("pitch"), settings.pitchLimit);
    stored.setValue(Group + QStringLiteral("roll"), settings.rollLimit);
    stored.setValue(Group + QStringLiteral("hysteresis"), settings.hysteresis);
    stored.setValue(Group + QStringLiteral("hold"), settings.holdMs);
    refresh(QDateTime::currentMSecsSinceEpoch());
}

void AlarmMenu::setCalibration(const Calibration& calibration)
{
    m_calibration = calibration;
    refresh(QDateTime::currentMSecsSinceEpoch());
}

// The rule runs with the operator's settings only while the values shown
// are angles; otherwise it is off, and an axis in alarm is cleared.
void AlarmMenu::refresh(qint64 wallMs)
{
    AlarmSettings effective = m_wanted;
    effective.enabled = m_wanted.enabled && offWhy().isEmpty();
    if (!(effective == m_rule.settings())) {
        for (const AlarmTransition& t : m_rule.setSettings(effective, monotonicNowMs()))
            log(wallMs, t);
        emit limitsChanged(effective);
    }
    const bool pitch = m_rule.isRaised(AlarmAxis::Pitch);
    const bool roll = m_rule.isRaised(AlarmAxis::Roll);
    if (pitch != m_pitch || roll != m_roll) {
        m_pitch = pitch;
        m_roll = roll;
        emit alarmState(pitch, roll);
    }
}

void AlarmMenu::take(const Reading& reading)
{
    if (reading.quantity == Quantity::Temperature)
        return;
    if (reading.rawDisplay != m_rawDisplay) {
        m_rawDisplay = reading.rawDisplay;
        refresh(reading.wallMs);
    }
    // Line noise is shown, but an alarm is raised or cleared only on what
    // the sensor really said.
    if (!m_rule.active() || !reading.wellFormed)
        return;
    const AlarmAxis axis = reading.quantity == Quantity::Pitch ? AlarmAxis::Pitch : AlarmAxis::Roll;
    if (const auto t = m_rule.feed(axis, reading.value, reading.monotonicMs)) {
        log(reading.wallMs, *t);
        refresh(reading.wallMs);
    }
}

void AlarmMenu::log(qint64 wallMs, const AlarmTransition& transition)
{
    // Opened at the first transition (a FIFO there is refused, not waited
    // on), and again should it have been moved away since.
    if (!m_log.isOpen() || !m_log.stillThere()) {
        std::optional<QString> error = m_log.open(m_logPath);
        if (!error && m_log.isEmpty())
            error = m_log.write((alarmcsv::header() + QStringLiteral("\r\n")).toUtf8());
        if (error) {
            emit status(QStringLiteral("alarms.csv: %1").arg(*error));
            m_log.close();
            return;
        }
    }
    if (const auto error = m_log.write((alarmcsv::row(wallMs, transition) + QStringLiteral("\r\n")).toUtf8())) {
        emit status(QStringLiteral("alarms.csv: %1").arg(*error));
        m_log.close();
    }
}
