// The built executable as a whole: options, and ending on a stop signal.
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void options();
    void stopSignalEndsCleanly();
};

namespace {
struct Run {
    int code;
    QString out;
    QString err;
};
Run run(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(VELTRAK_BINARY), args);
    p.waitForFinished(20000);
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
        QString::fromLocal8Bit(p.readAllStandardError())};
}
} // namespace

void TestProgram::options()
{
    const Run help = run({"--help"});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.contains(QStringLiteral("--port N=DEVICE")));
    const Run version = run({"--version"});
    QCOMPARE(version.code, 0);
    QVERIFY(version.out.startsWith(QStringLiteral("veltrak ")));
    const Run ports = run({"--list-ports", "--port", "2=/dev/ttyUSB7"});
    QCOMPARE(ports.code, 0);
    QVERIFY(ports.out.contains(QStringLiteral("2 = /dev/ttyUSB7")));
    QVERIFY(ports.out.contains(QStringLiteral("4 = /dev/ttyS3")));
    const Run bad = run({"--port", "9=/dev/x"});
    QCOMPARE(bad.code, 2);
    QVERIFY(bad.err.contains(QStringLiteral("--port")));
}

void TestProgram::stopSignalEndsCleanly()
{
    QTemporaryDir dir;
    QProcess p;
    p.start(QStringLiteral(VELTRAK_BINARY), {"--data-dir", dir.path()});
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("kvddt.txt"))));
    QTest::qWait(300);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
