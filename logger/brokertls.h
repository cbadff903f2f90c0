// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

struct ssl_ctx_st;

// The TLS side of the connection to the broker, built from the CA file's
// bytes as the publisher read them (libmosquitto would open the path again
// itself, and a FIFO there would hold it up for ever). libmosquitto makes
// every connection's handshake from this context and reports any failure of
// it as MOSQ_ERR_TLS alone; the context watches the handshake and keeps what
// went wrong, so that the operator learns which side to fix without a second
// connection made only to find out.
class BrokerTls {
public:
    // The context trusting the certificates in `caPem` and checking that the
    // broker's certificate names `host`; nothing when OpenSSL cannot make one.
    static std::unique_ptr<BrokerTls> create(const QByteArray& caPem, const QString& host);
    ~BrokerTls();
    BrokerTls(const BrokerTls&) = delete;
    BrokerTls& operator=(const BrokerTls&) = delete;

    // The SSL_CTX for MOSQ_OPT_SSL_CTX; libmosquitto takes a reference of its own.
    ssl_ctx_st* context() const { return m_context; }

    // Forgets what the previous handshake told; before each connection attempt.
    void beginAttempt();

    // Why the handshake on a connection to `port` that TCP had reached
    // failed: the trust, the host name, or a port that does not speak TLS at
    // all. Nothing when the handshake itself gives no reason.
    std::optional<QString> fault(int port) const;

private:
    BrokerTls(ssl_ctx_st* context, QString host) : m_context(context), m_host(std::move(host)) { }
    static int onVerify(int preverified, struct x509_store_ctx_st* store);
    static void onRecord(
        int written, int version, int contentType, const void* buffer, size_t length, struct ssl_st* ssl, void* self);

    ssl_ctx_st* m_context;
    const QString m_host;
    // Written by OpenSSL's callbacks inside libmosquitto's calls, read by
    // fault(): all on the publisher's network thread.
    long m_refusal = 0; // X509_V_OK: no certificate refused
    bool m_spoken = false; // a handshake or alert record came back
};
