#include "core/commandline.h"

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
    CommandLine cl;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto takeValue = [&](const QString& name) -> std::variant<QString, QString> {
            const QString prefix = name + QLatin1Char('=');
            if (a.startsWith(prefix))
                return std::variant<QString, QString>(std::in_place_index<0>, a.mid(prefix.size()));
            if (i + 1 >= args.size())
                return std::variant<QString, QString>(
                    std::in_place_index<1>, QStringLiteral("%1 needs a value").arg(name));
            return std::variant<QString, QString>(std::in_place_index<0>, args[++i]);
        };
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            cl.help = true;
        } else if (a == QLatin1String("-v") || a == QLatin1String("--version")) {
            cl.version = true;
        } else if (a == QLatin1String("--list-ports")) {
            cl.listPorts = true;
        } else if (a == QLatin1String("--port") || a.startsWith(QLatin1String("--port="))) {
            const auto v = takeValue(QStringLiteral("--port"));
            if (v.index() == 1)
                return std::get<1>(v);
            const QString mapping = std::get<0>(v);
            const qsizetype eq = mapping.indexOf(QLatin1Char('='));
            bool ok = false;
            const int number = eq > 0 ? mapping.left(eq).toInt(&ok) : 0;
            const QString device = eq > 0 ? mapping.mid(eq + 1) : QString();
            if (!ok || number < PortMap::FirstPort || number > PortMap::LastPort || device.isEmpty())
                return QStringLiteral("--port expects N=DEVICE with N from 1 to 4, got '%1'").arg(mapping);
            cl.ports.setDevice(number, device);
        } else if (a == QLatin1String("--data-dir") || a.startsWith(QLatin1String("--data-dir="))) {
            const auto v = takeValue(QStringLiteral("--data-dir"));
            if (v.index() == 1)
                return std::get<1>(v);
            cl.dataDir = std::get<0>(v);
            if (cl.dataDir.isEmpty())
                return QStringLiteral("--data-dir needs a directory");
        } else {
            return QStringLiteral("unknown option '%1'").arg(a);
        }
    }
    return cl;
}
