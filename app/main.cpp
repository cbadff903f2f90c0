#include "core/apppaths.h"
#include "core/commandline.h"
#include "core/eventloop.h"
#include "core/stopsignals.h"
#include "link/portlist.h"
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
