// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/brokertls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {
// Where each context keeps the BrokerTls it belongs to, for the verify
// callback, which is told the certificate store and nothing of ours.
int ownerIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}
} // namespace

std::unique_ptr<BrokerTls> BrokerTls::create(const QByteArray& caPem, const QString& host)
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context)
        return nullptr;
    std::unique_ptr<BrokerTls> tls(new BrokerTls(context, host));
    // What libmosquitto's own context would have had: no protocol older than
    // TLS 1.1, no compression, buffers freed while idle.
    SSL_CTX_set_options(context, SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1 | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    // Every certificate the file holds; a block that does not parse leaves
    // the store without it, and the broker's certificate then untrusted, the
    // same as a CA file naming the wrong authority.
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    if (const std::unique_ptr<BIO, decltype(&BIO_free)> pem(
            BIO_new_mem_buf(caPem.constData(), int(caPem.size())), BIO_free);
        pem) {
        while (X509* certificate = PEM_read_bio_X509(pem.get(), nullptr, nullptr, nullptr)) {
            X509_STORE_add_cert(store, certificate);
            X509_free(certificate);
        }
    }
    ERR_clear_error(); // the end of the PEM data is an error to OpenSSL
    // The broker's certificate must name the host the operator gave, as an
    // address when it is one.
    const QByteArray name = host.toUtf8();
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(context);
    if (!X509_VERIFY_PARAM_set1_ip_asc(param, name.constData()))
        X509_VERIFY_PARAM_set1_host(param, name.constData(), 0);
    ERR_clear_error();
    SSL_CTX_set_ex_data(context, ownerIndex(), tls.get());
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &BrokerTls::onVerify);
    SSL_CTX_set_msg_callback(context, &BrokerTls::onRecord);
    SSL_CTX_set_msg_callback_arg(context, tls.get());
    return tls;
}

BrokerTls::~BrokerTls()
{
    SSL_CTX_free(m_context);
}

void BrokerTls::beginAttempt()
{
    m_refusal = X509_V_OK;
    m_spoken = false;
}

int BrokerTls::onVerify(int preverified, X509_STORE_CTX* store)
{
    if (preverified)
        return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<BrokerTls*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ownerIndex())) : nullptr;
    // The first refusal ends the handshake; it is the one to tell.
    if (self && self->m_refusal == X509_V_OK)
        self->m_refusal = X509_STORE_CTX_get_error(store);
    return 0;
}

void BrokerTls::onRecord(int written, int, int contentType, const void*, size_t, SSL*, void* self)
{
    // A port of another protocol answers the greeting with garbage, silence
    // or a close, never with a TLS handshake or alert.
    if (!written && (contentType == SSL3_RT_HANDSHAKE || contentType == SSL3_RT_ALERT))
        static_cast<BrokerTls*>(self)->m_spoken = true;
}

std::optional<QString> BrokerTls::fault(int port) const
{
    switch (m_refusal) {
    case X509_V_OK:
        break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("TLS failed: the broker's certificate does not match the host name %1").arg(m_host);
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return QStringLiteral("TLS failed: the broker's certificate is not trusted (unknown issuer)");
    default:
        return QStringLiteral("TLS failed: the broker's certificate: %1")
            .arg(QString::fromUtf8(X509_verify_cert_error_string(m_refusal)));
    }
    if (!m_spoken)
        return QStringLiteral("TLS failed: the broker does not speak TLS on port %1").arg(port);
    return std::nullopt;
}
