// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portdialog.h"

#include "core/lineformat.h"
#include "link/serialport.h"
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

PortDialog::PortDialog(
    SerialPortComponent& port, PortSelection& selection, PortChoice& pending, Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_port(port),
      m_selection(selection),
      m_pending(pending),
      m_prompter(prompter)
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
            m_pending.NewPort = n;
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

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(tw(6720), tw(240), tw(975), tw(375));
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(tw(7800), tw(240), tw(975), tw(375));
    CancelButton->setAutoDefault(false);
    connect(OKButton, &QPushButton::clicked, this, &PortDialog::confirm);
    connect(CancelButton, &QPushButton::clicked, this, &PortDialog::dismiss);

    // The single choices of the line format lie below the visible area: the
    // dialog selects them itself when it opens.
    auto frame = [this](const char* name, const QString& caption, const char* optName, const QString& optText, int left,
                     int top, auto record) {
        auto* box = new QGroupBox(caption, this);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(tw(left), tw(top), tw(1455), tw(615));
        auto* b = new QRadioButton(optText, box);
        b->setObjectName(QString::fromLatin1(optName));
        b->setGeometry(tw(120), tw(240), tw(1215), tw(255));
        (new QButtonGroup(box))->addButton(b);
        b->setChecked(true);
        connect(b, &QRadioButton::clicked, this, record);
        return b;
    };
    baud192 = frame("FrameBaud", QStringLiteral("&Baud Rate"), "baud192", QStringLiteral("19200"), 240, 3600,
        [this] { m_pending.NewBaud = QStringLiteral("19200"); });
    NoParity = frame("FrameParity", QStringLiteral("&Parity"), "NoParity", QStringLiteral("None"), 1800, 3600,
        [this] { m_pending.NewParity = QStringLiteral("N"); });
    Data8 = frame("FrameDataBits", QStringLiteral("&Data Bits"), "Data8", QStringLiteral("8"), 3360, 3600,
        [this] { m_pending.NewDataBits = QStringLiteral("8"); });
    Stop1 = frame("FrameStopBits", QStringLiteral("&Stop Bits"), "Stop1", QStringLiteral("1"), 240, 4320,
        [this] { m_pending.NewStopBits = QStringLiteral("1"); });
    NoFlow = frame("FrameFlow", QStringLiteral("&Flow Control"), "NoFlow", QStringLiteral("None"), 1800, 4320,
        [this] { m_pending.NewHandshake = 0; });
}

int PortDialog::tw(int twips) const
{
    return artwork::twipsToPixels(parentWidget() ? parentWidget() : this, twips);
}

void PortDialog::openDialog()
{
    show();
    raise();
    activateWindow();

    SerialPortComponent& port = m_port;
    const int number = preselect(m_selection.number);
    if (number >= PortMap::FirstPort && number <= PortMap::LastPort)
        m_comPort[number]->click();
    const LineFormatChoices choices = readDialogChoices(port.lineFormat().toText());
    if (choices.baud19200)
        baud192->click();
    if (choices.parityNone)
        NoParity->click();
    if (choices.dataBits8)
        Data8->click();
    if (choices.stopBits1)
        Stop1->click();
    if (port.Handshaking() == 0)
        NoFlow->click();
    OKButton->setFocus();
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

void PortDialog::failOk(const QString& text)
{
    m_prompter.message(text, Prompter::Icon::Warning, AppTitle);
}

void PortDialog::confirm()
{
    SerialPortComponent& port = m_port;
    const PortChoice& pending = m_pending;
    std::optional<QString> failure; // the first failure of the steps so far
    auto note = [&failure](std::optional<QString> result) {
        if (result && !failure)
            failure = std::move(result);
    };

    const int oldPort = m_selection.number;
    const QString oldDevice = m_selection.map.deviceFor(oldPort);
    const QString newDevice = m_devices.value(pending.NewPort);
    if (pending.NewPort != oldPort || newDevice != oldDevice) {
        bool wasOpen = false;
        if (port.PortOpen()) {
            note(port.setPortOpen(false));
            wasOpen = true;
        }
        if (pending.NewPort < PortMap::FirstPort || pending.NewPort > PortMap::LastPort)
            note(QStringLiteral("Invalid port number %1").arg(pending.NewPort));
        else
            note(port.setDevice(newDevice));
        if (!failure && wasOpen)
            note(port.setPortOpen(true));
        if (failure) {
            failOk(*failure);
            if (port.PortOpen())
                (void)port.setPortOpen(false);
            (void)port.setDevice(oldDevice);
            return;
        }
        m_selection.number = pending.NewPort;
    }
    keepChoices();
    const auto format = parseLineFormat(pending.NewBaud + QLatin1Char(',') + pending.NewParity + QLatin1Char(',')
        + pending.NewDataBits + QLatin1Char(',') + pending.NewStopBits);
    if (const QString* error = std::get_if<QString>(&format))
        note(*error);
    else
        note(port.setLineFormat(std::get<LineFormat>(format)));
    if (failure) {
        failOk(*failure);
        return;
    }
    note(port.setHandshaking(pending.NewHandshake));
    if (failure) {
        failOk(*failure);
        return;
    }
    if (!port.PortOpen()) {
        // Reported, so the operator does not learn of it only from a later
        // "Error RS232"; the chain goes on with the port closed.
        if (const auto error = port.setPortOpen(true))
            failOk(*error);
    }
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
