#pragma once

#include "core/portmap.h"

#include <QString>
#include <QStringList>

#include <variant>

// What the command line asks for. With no options the program behaves as an
// operator expects of the original: ports 1 to 4 on their default devices
// (or those chosen in the port dialog before), files beside the executable.
struct CommandLine {
    PortMap ports;
    QString dataDir; // empty = default
    bool listPorts = false;
    bool help = false;
    bool version = false;
};

// `args` without the program name. Returns the options or an error text.
std::variant<CommandLine, QString> parseCommandLine(const QStringList& args);

QString usageText();
