#pragma once

// Shared by the window and end-to-end tests: the simulated sensor on a
// pseudo-terminal, and a main window in a temporary data directory with
// scripted boxes and a recorded quit instead of the end of the process.
#include "fakeprompter.h"
#include "link/sensorlink.h"
#include "link/serialport.h"
#include "simline.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

struct FormRig {
    QTemporaryDir dir;
    FakePrompter prompter;
    std::unique_ptr<MainWindow> form;
    int quits = 0;

    explicit FormRig(const PortMap& ports = PortMap(), const QString& programDir = QString())
    {
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

    // Start-up: the port dialog's OK, a model (none if null), the model dialog's OK.
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
    }

    // A reply as the serial line hands it to the link.
    void reply(const QString& command, const QString& chunk)
    {
        form->link().replay(chunk, command.at(0).toLatin1());
        form->flushDisplay(); // what the screen shows by its next refresh
    }
};
