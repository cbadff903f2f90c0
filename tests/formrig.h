#pragma once

#include "ui/form1.h"
#include "fakeprompter.h"
#include "link/serialport.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

// A main window in a temporary data directory, with scripted boxes and a
// recorded quit instead of the end of the test process.
struct FormRig {
    QTemporaryDir dir;
    FakePrompter prompter;
    std::unique_ptr<Form1> form;
    int quits = 0;

    explicit FormRig(const PortMap& ports = PortMap(), const QString& dataDir = QString())
    {
        form = std::make_unique<Form1>(prompter, AppPaths(dataDir.isEmpty() ? dir.path() : dataDir), ports);
        form->setQuitAction([this] { ++quits; });
    }

    template <typename T = QWidget> T* w(const QString& name) const
    {
        T* found = form->findChild<T*>(name);
        if (!found)
            qWarning("no widget named %s", qPrintable(name));
        return found;
    }
    QAction* a(const QString& name) const
    {
        QAction* found = form->findChild<QAction*>(name);
        if (!found)
            qWarning("no action named %s", qPrintable(name));
        return found;
    }
    QString text(const QString& label) const { return w<QLabel>(label)->text(); }

    // From the open port dialog: OK, a model (none if null), OK.
    void throughDialogs(const char* modelOption = "Option1")
    {
        ConfigScrn* config = form->configDialog();
        QVERIFY(config);
        config->findChild<QPushButton*>("OKButton")->click();
        Options* options = form->optionsDialog();
        QVERIFY(options && options->isVisible());
        if (modelOption)
            options->findChild<QRadioButton*>(modelOption)->click();
        options->findChild<QPushButton*>("Okbutton")->click();
        QVERIFY(form->isVisible());
    }

    // A reply as the serial events hand it to the decoder.
    void reply(const QString& command, const QString& chunk)
    {
        form->state().LastCommand = command;
        QString c = chunk;
        form->decoder().ProcessReply(c);
        form->flushDisplay(); // what the screen shows by its next refresh
    }
};
