#include "ui/portdialog.h"

#include "core/lineformat.h"
#include "link/serialport.h"
#include "ui/artwork.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

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
    setFixedSize(tw(6510), tw(1365));

    // Explicit groups: auto-exclusive radio buttons would also pair up with
    // the buttons inside the frames below, which are children of this dialog too.
    auto* portGroup = new QButtonGroup(this);
    for (int n = 1; n <= 4; ++n) {
        auto* b = new QRadioButton(QStringLiteral("Com%1").arg(n), this);
        b->setObjectName(QStringLiteral("ComPort(%1)").arg(n));
        b->setGeometry(tw(360 + (n - 1) * 840), tw(240), tw(852), tw(252));
        b->setToolTip(m_selection.map.deviceFor(n));
        connect(b, &QRadioButton::clicked, this, [this, n] { m_pending.NewPort = n; });
        portGroup->addButton(b, n);
        m_comPort[n] = b;
    }
    m_comPort[1]->setChecked(true);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(tw(4320), tw(240), tw(975), tw(375));
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(tw(5400), tw(240), tw(975), tw(375));
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
    baud192 = frame("FrameBaud", QStringLiteral("&Baud Rate"), "baud192", QStringLiteral("19200"), 240, 2400,
        [this] { m_pending.NewBaud = QStringLiteral("19200"); });
    NoParity = frame("FrameParity", QStringLiteral("&Parity"), "NoParity", QStringLiteral("None"), 1800, 2400,
        [this] { m_pending.NewParity = QStringLiteral("N"); });
    Data8 = frame("FrameDataBits", QStringLiteral("&Data Bits"), "Data8", QStringLiteral("8"), 3360, 2400,
        [this] { m_pending.NewDataBits = QStringLiteral("8"); });
    Stop1 = frame("FrameStopBits", QStringLiteral("&Stop Bits"), "Stop1", QStringLiteral("1"), 240, 3120,
        [this] { m_pending.NewStopBits = QStringLiteral("1"); });
    NoFlow = frame("FrameFlow", QStringLiteral("&Flow Control"), "NoFlow", QStringLiteral("None"), 1800, 3120,
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
    if (m_selection.number >= PortMap::FirstPort && m_selection.number <= PortMap::LastPort)
        m_comPort[m_selection.number]->click();
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
    if (pending.NewPort != oldPort) {
        bool wasOpen = false;
        if (port.PortOpen()) {
            note(port.setPortOpen(false));
            wasOpen = true;
        }
        if (pending.NewPort < PortMap::FirstPort || pending.NewPort > PortMap::LastPort)
            note(QStringLiteral("Invalid port number %1").arg(pending.NewPort));
        else
            note(port.setDevice(m_selection.map.deviceFor(pending.NewPort)));
        if (!failure && wasOpen)
            note(port.setPortOpen(true));
        if (failure) {
            failOk(*failure);
            if (port.PortOpen())
                (void)port.setPortOpen(false);
            (void)port.setDevice(m_selection.map.deviceFor(oldPort));
            return;
        }
        m_selection.number = pending.NewPort;
    }
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
