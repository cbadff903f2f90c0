// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/commandline.h"

#include "core/history.h"

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
                          "  --history PATH... open the History window on logger CSV files, folders of day\n"
                          "                    files (YYYY-MM-DD.csv) or kvddt.txt files\n"
                          "  --export FILE     with --history: write FILE (.png, .svg or .csv) without a window\n"
                          "  --from TIME       with --export: from TIME (2026-12-01, a UTC day, or\n"
                          "                    2026-12-01T06:00Z), inclusive; default the first row\n"
                          "  --to TIME         with --export: up to TIME, exclusive; default after the last row\n"
                          "  --size WxH        with --export: the picture's size (default 1200x600)\n"
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
    const QCommandLineOption history(QStringLiteral("history"));
    const QCommandLineOption exportFile(QStringLiteral("export"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("TIME"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("TIME"));
    const QCommandLineOption size(QStringLiteral("size"), QString(), QStringLiteral("WxH"));
    const QCommandLineOption help(QStringList {QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList {QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({port, dataDir, listPorts, history, exportFile, from, to, size, help, version});
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
    cl.history = parser.isSet(history);
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty() && !cl.history)
        return QStringLiteral("unknown option '%1'").arg(extra.first());
    cl.historyPaths = parser.positionalArguments();
    if (cl.history && cl.historyPaths.isEmpty())
        return QStringLiteral("--history needs at least one PATH (a CSV file, a folder of day files or kvddt.txt)");
    for (const QCommandLineOption* o : {&exportFile, &from, &to, &size})
        if (parser.isSet(*o) && !cl.history)
            return QStringLiteral("--%1 needs --history PATH...").arg(o->names().first());
    for (const QCommandLineOption* o : {&from, &to, &size})
        if (parser.isSet(*o) && !parser.isSet(exportFile))
            return QStringLiteral("--%1 needs --export FILE").arg(o->names().first());
    if (parser.isSet(exportFile)) {
        cl.exportFile = parser.value(exportFile);
        const QString suffix = cl.exportFile.section(QLatin1Char('.'), -1).toLower();
        if (!cl.exportFile.contains(QLatin1Char('.'))
            || (suffix != QLatin1String("png") && suffix != QLatin1String("svg") && suffix != QLatin1String("csv")))
            return QStringLiteral("--export: the file name must end in .png, .svg or .csv, got '%1'")
                .arg(cl.exportFile);
    }
    for (const auto& [option, target] : {std::pair {&from, &cl.fromMs}, {&to, &cl.toMs}}) {
        if (!parser.isSet(*option))
            continue;
        *target = history::parseTime(parser.value(*option));
        if (!*target)
            return QStringLiteral("--%1: expected a date (2026-12-01) or a UTC time (2026-12-01T06:00Z), got '%2'")
                .arg(option->names().first(), parser.value(*option));
    }
    if (cl.fromMs && cl.toMs && *cl.toMs <= *cl.fromMs)
        return QStringLiteral("--to: expected a time after --from");
    if (parser.isSet(size)) {
        const QStringList wh = parser.value(size).toLower().split(QLatin1Char('x'));
        bool okW = false, okH = false;
        cl.exportWidth = wh.value(0).toInt(&okW);
        cl.exportHeight = wh.value(1).toInt(&okH);
        if (wh.size() != 2 || !okW || !okH || cl.exportWidth < 100 || cl.exportHeight < 100 || cl.exportWidth > 10000
            || cl.exportHeight > 10000)
            return QStringLiteral("--size: expected WxH from 100x100 to 10000x10000, got '%1'").arg(parser.value(size));
    }
    if (parser.isSet(dataDir)) {
        cl.dataDir = parser.value(dataDir);
        if (cl.dataDir.isEmpty())
            return QStringLiteral("--data-dir needs a directory");
    }
    return cl;
}
