#include "core/commandline.h"

#include <QCommandLineParser>

QString usageText()
{
    return QStringLiteral("Usage: veltrak [options]\n"
                          "Monitor for VELTRAK dual-axis digital inclinometers.\n\n"
                          "Options:\n"
                          "  --port N=DEVICE   use DEVICE for port number N (1-4), e.g. --port 1=/dev/ttyUSB0;\n"
                          "                    repeatable. Defaults: %1\n"
                          "  --data-dir DIR    keep kvddt.txt and kvdcoef.txt in DIR instead of beside the program\n"
                          "  --list-ports      print the serial devices found and the port numbers mapped to them\n"
                          "  -h, --help        print this help\n"
                          "  -v, --version     print the version\n")
        .arg(QStringLiteral("1=%1 ... 4=%2").arg(PortMap::defaultDeviceFor(1), PortMap::defaultDeviceFor(4)));
}

std::variant<CommandLine, QString> parseCommandLine(const QStringList& args)
{
    // Qt parses; the texts stay the program's own, which operators and
    // scripts already know.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("N=DEVICE"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption help(QStringList {QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList {QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({port, dataDir, listPorts, help, version});
    if (!parser.parse(QStringList {QStringLiteral("veltrak")} + args)) {
        if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty())
            return QStringLiteral("unknown option '%1%2'")
                .arg(unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), unknown.first());
        // The only other fault: an option at the end without its value.
        return QStringLiteral("%1 needs a value").arg(args.last());
    }
    CommandLine cl;
    cl.help = parser.isSet(help);
    cl.version = parser.isSet(version);
    cl.listPorts = parser.isSet(listPorts);
    for (const QString& mapping : parser.values(port)) { // repeatable, in order
        const qsizetype eq = mapping.indexOf(QLatin1Char('='));
        bool ok = false;
        const int number = eq > 0 ? mapping.left(eq).toInt(&ok) : 0;
        const QString device = eq > 0 ? mapping.mid(eq + 1) : QString();
        if (!ok || number < PortMap::FirstPort || number > PortMap::LastPort || device.isEmpty())
            return QStringLiteral("--port expects N=DEVICE with N from 1 to 4, got '%1'").arg(mapping);
        cl.ports.setDevice(number, device);
    }
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        return QStringLiteral("unknown option '%1'").arg(extra.first());
    if (parser.isSet(dataDir)) {
        cl.dataDir = parser.value(dataDir);
        if (cl.dataDir.isEmpty())
            return QStringLiteral("--data-dir needs a directory");
    }
    return cl;
}
