// SPDX-License-Identifier: GPL-3.0-or-later
#include "brokerfixture.h"

#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

bool BrokerFixture::start()
{
    if (QTcpServer probe, tlsProbe; !m_port) { // both held at once, so that they differ
        m_port = probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
        m_tlsPort = !tlsDir.isEmpty() && tlsProbe.listen(QHostAddress::LocalHost) ? tlsProbe.serverPort() : 0;
    }
    const QString passwords = m_dir.filePath("passwords");
    QByteArray conf = "listener " + QByteArray::number(m_port) + " 127.0.0.1\nallow_anonymous false\npassword_file "
        + QFile::encodeName(passwords) + '\n' + limits;
    if (m_tlsPort)
        conf += "listener " + QByteArray::number(m_tlsPort) + " 127.0.0.1\ncertfile " + tlsDir + "/broker.pem\nkeyfile "
            + tlsDir + "/broker.key\n";
    // Started as root, mosquitto would otherwise switch to its own user,
    // which cannot read files in our private folder.
    if (const passwd* me = getpwuid(geteuid()))
        conf += QByteArray("user ") + me->pw_name + '\n';
    QFile file(m_dir.filePath("mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(conf) != conf.size() || !file.flush()
        || QProcess::execute("mosquitto_passwd", {"-b", "-c", passwords, User, Password}))
        return false;
    // A test that crashes must not leave its broker behind.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.setReadChannel(QProcess::StandardError);
    // The broker lives in sbin, which an ordinary user's PATH may lack.
    m_process.start(QStandardPaths::findExecutable("mosquitto", qEnvironmentVariable("PATH").split(':') << "/usr/sbin"),
        {"-c", file.fileName()});
    for (QByteArray log; m_process.waitForReadyRead(5000);)
        if ((log += m_process.readAll()).contains(" running"))
            return true;
    return false;
}
