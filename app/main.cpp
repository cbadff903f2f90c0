// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/apppaths.h"
#include "core/commandline.h"
#include "core/eventloop.h"
#include "core/stopsignals.h"
#include "link/portlist.h"
#include "ui/historywindow.h"
#include "ui/mainwindow.h"
#include "ui/qtprompter.h"

#include <QApplication>
#include <QFileInfo>
#include <QSettings>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>

#include <cstdio>

namespace {
// The mapping the window would start with: the port dialog's remembered
// choices under the command line's.
void listPorts(PortMap map)
{
    const QSettings stored;
    const int number = map.loadRemembered(stored);
    QTextStream out(stdout);
    out << serialDevicesText();
    out << "Port numbers:\n";
    for (int n = PortMap::FirstPort; n <= PortMap::LastPort; ++n)
        out << "  " << n << " = " << map.deviceFor(n) << "  (" << PortMap::sourceName(map.sourceOf(n)) << ")\n";
    if (number != 0)
        out << "Port number last confirmed: " << number << "\n";
}
// --history PATH... --export FILE: what the History window would show (or
// its rows), written without a window. Nothing on standard output; bad
// lines and skipped files on standard error.
int exportHistoryFiles(const CommandLine& cl)
{
    history::Data data;
    if (const auto error = data.load(cl.historyPaths)) {
        std::fprintf(stderr, "veltrak: --history: %s\n", qPrintable(*error));
        return 1;
    }
    bool remarks = !data.notes.isEmpty();
    for (const history::File& f : data.files)
        remarks = remarks || f.badLines > 0 || f.refused;
    if (remarks)
        std::fprintf(stderr, "veltrak: --history: %s\n", qPrintable(data.summaryText()));
    HistoryView view;
    view.fromMs = cl.fromMs.value_or(data.rows.front().timeMs);
    view.toMs = cl.toMs.value_or(data.rows.back().timeMs + 1);
    if (view.toMs <= view.fromMs)
        view.toMs = view.fromMs + 1;
    if (const auto error = exportHistory(data, cl.exportFile, view, QSize(cl.exportWidth, cl.exportHeight))) {
        std::fprintf(stderr, "veltrak: --export: %s\n", qPrintable(*error));
        return 1;
    }
    return 0;
}
} // namespace

int main(int argc, char* argv[])
{
    // Options are read before any window system is needed, so --help,
    // --version and --list-ports work without a display.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const int stopSignals = stopsignals::install();
    const auto parsed = parseCommandLine(args);
    if (const auto* error = std::get_if<QString>(&parsed)) {
        std::fprintf(stderr, "veltrak: %s\n\n%s", qPrintable(*error), qPrintable(usageText()));
        return 2;
    }
    const auto& cl = std::get<CommandLine>(parsed);
    if (cl.help) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }
    if (cl.version) {
        std::printf("veltrak %s\n", VELTRAK_VERSION);
        return 0;
    }
    // Both the window and --list-ports read the remembered port choices.
    QCoreApplication::setApplicationName(QStringLiteral("veltrak"));
    QCoreApplication::setOrganizationName(QStringLiteral("veltrak"));
    if (cl.listPorts) {
        QCoreApplication core(argc, argv);
        listPorts(cl.ports);
        return 0;
    }

    if (!cl.exportFile.isEmpty()) {
        // A report made by a timer on a box without a display: no X server.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Success prints nothing: not even Qt's note that a box without a
        // desktop session has no runtime folder.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type != QtDebugMsg && type != QtInfoMsg && !text.startsWith(QLatin1String("QStandardPaths: ")))
                std::fprintf(stderr, "%s\n", qPrintable(text));
        });
        QApplication app(argc, argv);
        return exportHistoryFiles(cl);
    }

    preferLeanEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(VELTRAK_VERSION));
    // Windows come and go during the start-up chain; the program ends only
    // through its main window's close or "Exit".
    QApplication::setQuitOnLastWindowClosed(false);

    QtPrompter prompter;
    const QString dataDir = cl.dataDir.isEmpty() ? AppPaths::defaultDataDir() : cl.dataDir;
    const QString programDir = cl.dataDir.isEmpty() ? QCoreApplication::applicationDirPath() : QString();
    MainWindow form(prompter, AppPaths(dataDir, programDir), cl.ports);
    if (cl.history)
        form.setHistoryAtStart(cl.historyPaths);
    if (cl.dataDir.isEmpty() && QFileInfo(dataDir) != QFileInfo(QCoreApplication::applicationDirPath()))
        form.showDataDirectory(); // an installed copy: say where the files are
    // SIGTERM, SIGINT and SIGHUP end the program like "Exit": port and
    // file closed, exit code 0. SIGUSR1 asks the logger for its status and
    // means nothing here.
    if (stopSignals >= 0) {
        auto* notifier = new QSocketNotifier(stopSignals, QSocketNotifier::Read, &form);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
            if (stopsignals::take() == SIGUSR1)
                return;
            // Every signal counts: should a box's own loop have swallowed the
            // first request to quit, the next one ends the program all the same.
            if (form.ended())
                QCoreApplication::exit(0);
            else
                form.closeProgram();
        });
    }
    // Started from the event loop, so that a stop signal during the start-up
    // boxes ends the one loop that decides the exit.
    QTimer::singleShot(0, &form, &MainWindow::startUp);
    return QApplication::exec();
}
