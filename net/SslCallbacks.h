// The C callbacks OpenSSL calls while a TLS socket's SSL object runs: certificate checks,
// sessions, client certificates, handshake progress, the client's hello, the server name,
// ALPN and OCSP stapling. Each finds its socket in the SSL's application data slot 0, turns
// the call into the socket's events and hands the socket's answer back to OpenSSL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/InetSsleay.h"
#include "net/InetUtils.h"

class TCustomSslNetSocket;
struct TClientHelloData;

struct TSslCallbacks {
    // One process-wide lock per kind of callback, and one around SSL_new.
    enum TKind { kPassPhrase, kVerify, kInfo, kRemoveSession, kNewSession, kGetSession, kClientCert, kServerName,
                 kSslNew, kKindCount };
    class Lock {
    public:
        explicit Lock(TKind Kind);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        TKind kind_;
    };

    // Sets the context's callback table (once).
    static void Install();

    static int Verify(int Ok, X509_STORE_CTX* StoreCtx);
    static int NewSession(SSL* Ssl, SSL_SESSION* Session);
    static SSL_SESSION* GetSession(SSL* Ssl, const unsigned char* Id, int Len, int* Copy);
    static int ClientHello(SSL* Ssl, int* Alert, void* Arg);
    static int AlpnSelect(SSL* Ssl, const unsigned char** Out, unsigned char* OutLen, const unsigned char* In,
                          unsigned int InLen, void* Arg);
    static int OcspStatus(SSL* Ssl, void* Arg);
    static void Info(const SSL* Ssl, int Where, int Ret);
    static int ClientCert(SSL* Ssl, X509** Cert, EVP_PKEY** Key);
    static int ServerName(SSL* Ssl, int* Alert, void* Arg);

private:
    // The frame of a socket callback (it counts the socket's callback depth).
    struct InsideCallback;
    static int ClientHelloBody(SSL* Ssl, int* Alert, void* Arg);
    static int OcspStatusBody(SSL* Ssl, void* Arg);
};

// Reads one client-hello extension into Hello. False when the data is malformed: a list
// whose declared length disagrees with the bytes OpenSSL handed over.
bool SslParseHelloExtension(TClientHelloData& Hello, unsigned Type, const unsigned char* Data, size_t Len);
