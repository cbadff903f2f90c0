// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/portmap.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What the command line asks for. With no options the program behaves as an
// operator expects of the original: ports 1 to 4 on their default devices
// (or those chosen in the port dialog before), files beside the executable.
struct CommandLine {
    PortMap ports;
    QString dataDir; // empty = default
    bool listPorts = false;
    // --history PATH...: the History window (no start-up chain), or with
    // --export FILE its picture or rows written without a window.
    QStringList historyPaths;
    bool history = false;
    QString exportFile;
    std::optional<qint64> fromMs, toMs; // UTC ms; [from, to)
    int exportWidth = 1200, exportHeight = 600;
    bool help = false;
    bool version = false;
};

// `args` without the program name. Returns the options or an error text.
std::variant<CommandLine, QString> parseCommandLine(const QStringList& args);

QString usageText();
