// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portdialog.h"

#include "ui/artwork.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>

namespace {
// What the system says of a device, for the list and the line below it.
QString details(const SerialDevice& d)
{
    QStringList parts;
    for (const QString& part : {d.description, d.maker})
        if (!part.isEmpty())
            parts << part;
    if (!d.serialNumber.isEmpty())
        parts << QStringLiteral("serial %1").arg(d.serialNumber);
    if (d.vendorId >= 0 && d.productId >= 0)
        parts << QStringLiteral("%1:%2")
                     .arg(d.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(d.productId, 4, 16, QLatin1Char('0'));
    return parts.join(QStringLiteral(", "));
}
} // namespace

std::optional<LineFormat> PendingPortValues::lineFormat() const
{
    if (!baud || !parity || !dataBits || !stopBits)
        return std::nullopt;
    return LineFormat {*baud, *parity, *dataBits, *stopBits, flow};
}

PortDialog::PortDialog(PortSelection& selection, PendingPortValues& pending, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_selection(selection),
      m_pending(pending)
{
    setObjectName(QStringLiteral("ConfigScrn"));
    setWindowTitle(QStringLiteral("Communication PORT select"));
    if (parent)
        setWindowIcon(parent->windowIcon());
    artwork::setBackground(this, QColor(192, 255, 255));
    setFixedSize(tw(9000), tw(3000));

    // Explicit groups: auto-exclusive radio buttons would also pair up with
    // the buttons inside the frames below, which are children of this dialog too.
    m_portGroup = new QButtonGroup(this);
    for (int n = 1; n <= 4; ++n) {
        m_devices[n] = m_selection.map.deviceFor(n);
        auto* b = new QRadioButton(QStringLiteral("Com%1").arg(n), this);
        b->setObjectName(QStringLiteral("ComPort(%1)").arg(n));
        b->setGeometry(tw(360), tw(240 + (n - 1) * 330), tw(852), tw(252));
        connect(b, &QRadioButton::clicked, this, [this, n] {
            m_pending.port = n;
            showDeviceOf(n);
        });
        m_portGroup->addButton(b, n);
        m_comPort[n] = b;
        // The device the number stands for, in plain sight, and whether it is there.
        m_comDevice[n] = new QLabel(this);
        m_comDevice[n]->setObjectName(QStringLiteral("ComDevice(%1)").arg(n));
        m_comDevice[n]->setGeometry(tw(1260), tw(240 + (n - 1) * 330), tw(5280), tw(252));
    }
    m_comPort[1]->setChecked(true);

    auto* deviceCaption = new QLabel(QStringLiteral("Device for the checked port:"), this);
    deviceCaption->setGeometry(tw(360), tw(1620), tw(6000), tw(252));
    m_device = new QComboBox(this);
    m_device->setObjectName(QStringLiteral("PortDevice"));
    m_device->setEditable(true); // any path may be typed, e.g. the simulator's link
    m_device->setInsertPolicy(QComboBox::NoInsert);
    m_device->setGeometry(tw(360), tw(1890), tw(8415), tw(330));
    connect(m_device, &QComboBox::currentTextChanged, this, &PortDialog::deviceEdited);
    m_deviceInfo = new QLabel(this);
    m_deviceInfo->setObjectName(QStringLiteral("PortDeviceInfo"));
    m_deviceInfo->setGeometry(tw(360), tw(2280), tw(8415), tw(252));
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("PortNote"));
    m_note->setGeometry(tw(360), tw(2580), tw(8415), tw(252));
    m_poll = new QTimer(this);
    m_poll->setObjectName(QStringLiteral("PortPoll"));
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, &PortDialog::refreshDevices);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKButton"));
    m_ok->setGeometry(tw(6720), tw(240), tw(975), tw(375));
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelButton"));
    m_cancel->setGeometry(tw(7800), tw(240), tw(975), tw(375));
    m_cancel->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &PortDialog::confirm);
    connect(m_cancel, &QPushButton::clicked, this, &PortDialog::dismiss);

    // The single choices of the line format lie below the visible area: the
    // dialog selects them itself when it opens.
    auto frame = [this](const char* name, const QString& caption, const char* optionName, const QString& optionText,
                     int left, int top, auto record) {
        auto* box = new QGroupBox(caption, this);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(tw(left), tw(top), tw(1455), tw(615));
        auto* b = new QRadioButton(optionText, box);
        b->setObjectName(QString::fromLatin1(optionName));
        b->setGeometry(tw(120), tw(240), tw(1215), tw(255));
        (new QButtonGroup(box))->addButton(b);
        b->setChecked(true);
        connect(b, &QRadioButton::clicked, this, record);
        return b;
    };
    m_baud19200 = frame("FrameBaud", QStringLiteral("&Baud Rate"), "baud192", QStringLiteral("19200"), 240, 3600,
        [this] { m_pending.baud = 19200; });
    m_noParity = frame("FrameParity", QStringLiteral("&Parity"), "NoParity", QStringLiteral("None"), 1800, 3600,
        [this] { m_pending.parity = QLatin1Char('N'); });
    m_dataBits8 = frame("FrameDataBits", QStringLiteral("&Data Bits"), "Data8", QStringLiteral("8"), 3360, 3600,
        [this] { m_pending.dataBits = 8; });
    m_stopBits1 = frame("FrameStopBits", QStringLiteral("&Stop Bits"), "Stop1", QStringLiteral("1"), 240, 4320,
        [this] { m_pending.stopBits = QStringLiteral("1"); });
    m_noFlowControl = frame("FrameFlow", QStringLiteral("&Flow Control"), "NoFlow", QStringLiteral("None"), 1800, 4320,
        [this] { m_pending.flow = FlowControl::None; });
}

int PortDialog::tw(int twips) const
{
    return artwork::twipsToPixels(parentWidget() ? parentWidget() : this, twips);
}

void PortDialog::openDialog(const LineFormat& current)
{
    show();
    raise();
    activateWindow();

    const int number = preselect(m_selection.number);
    if (number >= PortMap::FirstPort && number <= PortMap::LastPort)
        m_comPort[number]->click();
    // Each hidden choice is selected (and so recorded) when the line's
    // current value is the one it offers; another value leaves it unrecorded.
    if (current.baud == 19200)
        m_baud19200->click();
    if (current.parity.toUpper() == QLatin1Char('N'))
        m_noParity->click();
    if (current.dataBits == 8)
        m_dataBits8->click();
    if (current.stopBits == QLatin1String("1"))
        m_stopBits1->click();
    if (current.flow == FlowControl::None)
        m_noFlowControl->click();
    m_ok->setFocus();
}

void PortDialog::showEvent(QShowEvent* event)
{
    refreshDevices();
    m_poll->start();
    QDialog::showEvent(event);
}

void PortDialog::hideEvent(QHideEvent* event)
{
    m_poll->stop();
    QDialog::hideEvent(event);
}

void PortDialog::refreshDevices()
{
    m_found = serialDevices();
    QStringList offered, listed;
    for (const SerialDevice& d : m_found)
        offered << d.byId << d.path; // the name that survives re-plugging first
    for (int i = 0; i < m_device->count(); ++i)
        listed << m_device->itemText(i);
    if (offered != listed) {
        // Rebuilt only on a change, so an open list is left alone otherwise.
        const QSignalBlocker quiet(m_device);
        const QString text = m_device->currentText();
        m_device->clear();
        for (const SerialDevice& d : m_found) {
            for (const QString& name : d.byId + QStringList {d.path}) {
                m_device->addItem(name);
                m_device->setItemData(m_device->count() - 1, details(d), Qt::ToolTipRole);
            }
        }
        m_device->setCurrentIndex(m_device->findText(text));
        m_device->setEditText(text);
    }
    for (int n = PortMap::FirstPort; n <= PortMap::LastPort; ++n)
        showPortLabel(n);
}

bool PortDialog::present(int number) const
{
    return devicePresent(m_devices.value(number), m_found);
}

// The number to check as the dialog opens: the current one, unless a first
// start finds a single USB adapter, or its device is absent and another's is
// present.
int PortDialog::preselect(int number)
{
    QString note;
    QList<const SerialDevice*> adapters;
    for (const SerialDevice& d : m_found)
        if (d.isUsbAdapter())
            adapters << &d;
    if (!m_selection.remembered && adapters.size() == 1) {
        const SerialDevice* adapter = adapters.first();
        const QString name = adapter->byId.value(0, adapter->path);
        int mapped = 0;
        for (int n = PortMap::LastPort; n >= PortMap::FirstPort; --n)
            if (deviceAt(m_devices.value(n), m_found) == adapter)
                mapped = n;
        // A --port mapping is the operator's word and stays.
        if (!mapped && m_selection.map.sourceOf(number) == PortMap::Source::Default) {
            m_devices[number] = name;
            showPortLabel(number);
            mapped = number;
        }
        if (mapped) {
            number = mapped;
            note = QStringLiteral("One USB adapter found: Com%1 stands for %2.").arg(QString::number(mapped), name);
        }
    }
    if (!present(number)) {
        for (int n = PortMap::FirstPort; n <= PortMap::LastPort; ++n) {
            if (present(n)) {
                note = QStringLiteral("Com%1 (%2) is absent: Com%3 selected.")
                           .arg(QString::number(number), m_devices.value(number), QString::number(n));
                number = n;
                break;
            }
        }
    }
    m_note->setText(note);
    return number;
}

void PortDialog::showDeviceOf(int number)
{
    const QSignalBlocker quiet(m_device);
    const QString device = m_devices.value(number);
    m_device->setCurrentIndex(m_device->findText(device));
    m_device->setEditText(device);
    showPortLabel(number);
}

void PortDialog::deviceEdited(const QString& text)
{
    const int number = m_portGroup->checkedId();
    if (number < PortMap::FirstPort || number > PortMap::LastPort)
        return;
    const QString device = text.trimmed();
    m_devices[number] = device.isEmpty() ? PortMap::defaultDeviceFor(number) : device;
    showPortLabel(number);
}

void PortDialog::showPortLabel(int number)
{
    const QString device = m_devices.value(number);
    const bool there = devicePresent(device, m_found);
    QLabel* label = m_comDevice[number];
    const QString state = there ? QStringLiteral("  (present)") : QStringLiteral("  (absent)");
    const QFontMetrics metrics(label->font());
    label->setText(
        metrics.elidedText(device, Qt::ElideMiddle, label->width() - metrics.horizontalAdvance(state)) + state);
    label->setToolTip(device);
    m_comPort[number]->setToolTip(device);
    if (number == m_portGroup->checkedId()) {
        const SerialDevice* found = deviceAt(device, m_found);
        const QString about = found ? details(*found) : QString();
        m_deviceInfo->setText((there ? QStringLiteral("Present") : QStringLiteral("Absent"))
            + (about.isEmpty() ? QString() : QStringLiteral(": ") + about));
    }
}

// The devices chosen here hold for the rest of the run and the next ones; a
// --port mapping left as it was is not kept.
void PortDialog::keepChoices()
{
    QSettings stored;
    for (int n = PortMap::FirstPort; n <= PortMap::LastPort; ++n) {
        if (m_devices.value(n) != m_selection.map.deviceFor(n)) {
            m_selection.map.choose(n, m_devices.value(n));
            PortMap::remember(stored, n, m_devices.value(n));
        }
    }
    PortMap::rememberNumber(stored, m_selection.number);
    m_selection.remembered = true;
}

void PortDialog::confirm()
{
    emit portChosen(PortChoice {m_pending.port, m_devices.value(m_pending.port), m_pending.lineFormat()});
}

void PortDialog::finish()
{
    hide();
    deleteLater();
    emit portConfirmed();
}

void PortDialog::dismiss()
{
    hide();
    deleteLater();
    emit cancelled();
}
