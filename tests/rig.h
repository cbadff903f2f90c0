// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared by the window and end-to-end tests: the simulated sensor on a
// pseudo-terminal, and a main window in a temporary data directory with
// scripted boxes and a recorded quit instead of the end of the process.
#include "fakeprompter.h"
#include "link/sensorlink.h"
#include "simline.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

// The other end of the window's serial line, played by the test: the
// program's commands are answered as a sensor would until the one a test
// reply is for comes.
struct Peer {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QString device = ::grantpt(fd) || ::unlockpt(fd) ? QString() : QString::fromLatin1(::ptsname(fd));
    ~Peer() { ::close(fd); }
    bool answer(char command, const QByteArray& reply) const
    {
        static const QHash<char, QByteArray> plain {{'A', "R"}, {'B', "800\n"}, {'C', "800\n"}, {'D', "09E\n"}};
        QSocketNotifier readable(fd, QSocketNotifier::Read);
        QSignalSpy ready(&readable, &QSocketNotifier::activated);
        for (char c = 0; c != command;) {
            if (::read(fd, &c, 1) != 1) {
                if (!ready.wait(5000))
                    return false;
                continue;
            }
            const QByteArray out = c == command ? reply : plain.value(c); // F and its zeros: nothing
            if (::write(fd, out.constData(), size_t(out.size())) != out.size())
                return false;
        }
        return true;
    }
};

// What the program keeps between runs goes to a folder of the test's own,
// never into the user's home.
inline void privateSettings()
{
    static const QTemporaryDir settings;
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
}

struct FormRig {
    QTemporaryDir dir;
    FakePrompter prompter;
    Peer peer; // port 4 unless the test maps it
    std::unique_ptr<MainWindow> form;
    int quits = 0;

    explicit FormRig(PortMap ports = PortMap(), const QString& programDir = QString())
    {
        privateSettings();
        if (ports.deviceFor(4) == PortMap::defaultDeviceFor(4))
            ports.setDevice(4, peer.device);
        form = std::make_unique<MainWindow>(prompter, AppPaths(dir.path(), programDir), ports);
        form->setQuitAction([this] { ++quits; });
    }

    template <typename T = QWidget> T* w(const QString& name) const
    {
        T* found = form->findChild<T*>(name);
        if (!found)
            qFatal("no widget named %s", qPrintable(name));
        return found;
    }
    QAction* a(const QString& name) const { return w<QAction>(name); }
    QString text(const QString& label) const { return w<QLabel>(label)->text(); }

    // Start-up: the port dialog's OK, a model (none if null), the model
    // dialog's OK; with a model, polling starts.
    void startUp(const char* modelOption = "Option1")
    {
        form->startUp();
        form->portDialog()->findChild<QPushButton*>("OKButton")->click();
        ModelDialog* options = form->modelDialog();
        QVERIFY(options && options->isVisible());
        if (modelOption)
            options->findChild<QRadioButton*>(modelOption)->click();
        options->findChild<QPushButton*>("Okbutton")->click();
        QVERIFY(form->isVisible());
        QTRY_VERIFY(!form->modelDialog()); // it goes once the event loop runs
        if (w<QPushButton>("Start")->isEnabled())
            w<QPushButton>("Start")->click();
    }

    // The sensor answers `command` with `bytes` over the line; returns once
    // the window has taken the reading and shown it.
    void reply(char command, const QByteArray& bytes)
    {
        std::optional<Quantity> last;
        const QObject scope; // the connection ends with it
        QObject::connect(
            &form->link(), &SensorLink::readingReady, &scope, [&last](const Reading& r) { last = r.quantity; });
        QVERIFY(peer.answer(command, bytes));
        QTRY_VERIFY(last == Quantity(command - 'B'));
        form->flushDisplay(); // what the screen shows by its next refresh
    }
};
