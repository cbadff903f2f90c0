// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QTemporaryDir>

// A private mosquitto: its own configuration in a temporary folder,
// listening on 127.0.0.1 only, on a port that was free when first started and
// kept across restarts so that clients can find it again. Only User with
// Password gets in, as on a real site, so that a wrong password is refused.
// Given a folder with broker.pem and broker.key before its first start, it
// also speaks TLS on a second port.
struct BrokerFixture {
    static constexpr const char *User = "logger", *Password = "right";
    QByteArray tlsDir;
    QByteArray limits; // more lines of mosquitto.conf, e.g. "max_packet_size 2000"

    BrokerFixture() = default;
    BrokerFixture(const BrokerFixture&) = delete;
    BrokerFixture& operator=(const BrokerFixture&) = delete;
    ~BrokerFixture() { stop(); }

    // True once the broker says it runs.
    bool start();
    // Killed: to its clients the broker simply vanishes, as in a power cut.
    void stop() { m_process.close(); }
    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; } // 0: no TLS

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0, m_tlsPort = 0;
};
