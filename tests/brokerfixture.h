#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

// A private mosquitto for one test: its own configuration in a temporary
// folder, listening on 127.0.0.1 only, on a port that was free when first
// started and kept across restarts so that clients can find it again.
class BrokerFixture {
public:
    BrokerFixture()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        // A test that crashes must not leave its broker behind.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    }
    ~BrokerFixture() { stop(); }
    BrokerFixture(const BrokerFixture&) = delete;
    BrokerFixture& operator=(const BrokerFixture&) = delete;

    // With a user name, anonymous clients are refused and only this password
    // is accepted.
    bool start(const QString& user = {}, const QString& password = {})
    {
        if (!m_dir.isValid())
            return false;
        if (!m_port) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return false;
            m_port = probe.serverPort();
        }
        QByteArray conf = "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
        conf += "persistence false\nlog_dest stderr\n";
        // Started as root, mosquitto would otherwise switch to its own user,
        // which cannot read files in our private folder.
        if (const passwd* me = getpwuid(geteuid()))
            conf += QByteArray("user ") + me->pw_name + '\n';
        if (user.isEmpty()) {
            conf += "allow_anonymous true\n";
        } else {
            const QString passwords = m_dir.filePath(QStringLiteral("passwords"));
            QFile::remove(passwords);
            if (QProcess::execute(tool("mosquitto_passwd"), {"-b", "-c", passwords, user, password}) != 0)
                return false;
            conf += "allow_anonymous false\npassword_file " + QFile::encodeName(passwords) + '\n';
        }
        QFile file(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(conf) != conf.size())
            return false;
        file.close();

        m_process.start(tool("mosquitto"), {"-c", file.fileName()});
        if (!m_process.waitForStarted(3000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000 && m_process.state() == QProcess::Running) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(200))
                return true;
            QThread::msleep(10);
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    quint16 port() const { return m_port; }
    QString log() { return QString::fromLocal8Bit(m_process.readAll()); }

private:
    // The broker lives in sbin, which an ordinary user's PATH may lack.
    static QString tool(const QString& name)
    {
        QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            path = QStandardPaths::findExecutable(name, {"/usr/sbin", "/usr/local/sbin", "/usr/bin"});
        return path.isEmpty() ? name : path;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
