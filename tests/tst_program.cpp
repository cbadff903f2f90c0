// SPDX-License-Identifier: GPL-3.0-or-later
// The built executable as a whole: options, and ending on a stop signal.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {
struct Run {
    int code;
    QString out, err;
};
// The program runs with a home of its own, which may hold remembered settings.
QTemporaryDir home;
QProcessEnvironment privateHome()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    return env;
}
Run run(const QStringList& args)
{
    QProcess p;
    p.setProcessEnvironment(privateHome());
    p.start(QStringLiteral(VELTRAK_BINARY), args);
    p.waitForFinished(20000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
        QString::fromLocal8Bit(p.readAllStandardError())};
}
} // namespace

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void options()
    {
        const Run help = run({"--help"}), version = run({"--version"}), bad = run({"--port", "9=/dev/x"});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.contains(QStringLiteral("--port N=DEVICE")));
        QCOMPARE(version.code, 0);
        QVERIFY(version.out.startsWith(QStringLiteral("veltrak ")));
        // What the port dialog remembered, under what the command line says.
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".config/veltrak")));
        QFile stored(home.filePath(QStringLiteral(".config/veltrak/veltrak.conf")));
        QVERIFY(stored.open(QIODevice::WriteOnly));
        stored.write("[ports]\ndevice1=/dev/ttyUSB9\ndevice2=/dev/ttyACM0\nnumber=1\n");
        stored.close();
        const Run ports = run({"--list-ports", "--port", "2=/dev/ttyUSB7"});
        QCOMPARE(ports.code, 0);
        for (const char* line : {"1 = /dev/ttyUSB9  (remembered)\n", "2 = /dev/ttyUSB7  (--port)\n",
                 "4 = /dev/ttyS3  (default)\n", "Port number last confirmed: 1\n"})
            QVERIFY2(ports.out.contains(QString::fromLatin1(line)), line);
        QCOMPARE(bad.code, 2);
        QVERIFY(bad.err.contains(QStringLiteral("--port")));
    }

    void stopSignalEndsCleanly()
    {
        // Running normally; then before, during and after the box that says
        // the data folder is missing.
        QTemporaryDir dir;
        const QString missing = QStringLiteral("/no/such/folder");
        for (const auto& [folder, delayMs] :
            QList<std::pair<QString, int>> {{dir.path(), 300}, {missing, 200}, {missing, 1500}}) {
            QProcess p;
            p.setProcessEnvironment(privateHome());
            p.start(QStringLiteral(VELTRAK_BINARY), {"--data-dir", folder});
            QVERIFY(p.waitForStarted());
            if (folder != missing)
                QTRY_VERIFY(QFileInfo::exists(dir.filePath("kvddt.txt")));
            QTest::qWait(delayMs);
            ::kill(pid_t(p.processId()), SIGTERM);
            QVERIFY2(p.waitForFinished(10000), "still running after SIGTERM");
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 0);
        }
    }

    void closedStandardErrorIsNoReasonToDie()
    {
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        ::close(fds[0]); // nobody will read what the program says
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDERR_FILENO);
            ::execl(VELTRAK_BINARY, VELTRAK_BINARY, "--bogus", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY2(WIFEXITED(status), "ended by a signal");
        QCOMPARE(WEXITSTATUS(status), 2);
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
