// TLS settings shared by the sockets that use them. TSslBaseComponent is the base of every TLS
// component (one OpenSSL acquisition each, the last OpenSSL error); TSslContext holds the
// protocol range, ciphers, certificates, key, trusted CAs (files, PEM text, or the Windows
// ROOT store), CRLs, DH parameters, verification and session settings, and builds one
// SSL_CTX from them that the sockets create their SSL objects from; TSslEngine holds an
// OpenSSL engine whose private key a context can use.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/StringList.h"
#include "net/InetSsleay.h"
#include "net/SslWindowsRoot.h"

class TX509Base;

class ESslContextException : public framework::Exception {
    using framework::Exception::Exception;
};
class ESslEngineError : public framework::Exception {
    using framework::Exception::Exception;
};
class EOpenSslError : public framework::Exception {
    using framework::Exception::Exception;
};
class EX509Exception : public framework::Exception {
    using framework::Exception::Exception;
};

// ---- Base of the TLS components ---------------------------------------------------------------

class TSslBaseComponent : public framework::TComponent {
public:
    explicit TSslBaseComponent(framework::TComponent* Owner);
    ~TSslBaseComponent() override;

    int32_t LastOpenSslErrorCode = 0;
    std::string LastOpenSslErrorText;

    // One acquisition of OpenSSL for this component (InetAcquireOpenSsl), and its release.
    void LoadSslOnce();
    void ReleaseSslOnce();
    bool SslLoaded() const { return loaded_; }

    // Records the queued OpenSSL error and raises E with "\r\n" + Msg " - " error + "\r\n".
    template <typename E>
    [[noreturn]] void RaiseOpenSslErrors(const std::string& Msg) {
        RecordOpenSslErrors(Msg);
        throw E("\r\n" + LastOpenSslErrorText + "\r\n");
    }

protected:
    void RecordOpenSslErrors(const std::string& Msg);
    // A file name or pass phrase as OpenSSL gets it (UTF-8 when the flag is set).
    std::string SslText(const std::string& S) const { return utf8_ ? InetToUtf8(S) : S; }
    bool utf8_ = false;

private:
    bool loaded_ = false;
};

// ---- Enumerations -----------------------------------------------------------------------------

enum TSslVerMethod { sslVerSSL3, sslVerTLS1, sslVerTLS1_1, sslVerTLS1_2, sslVerTLS1_3, sslVerMax };
enum TSslVersionMethod {
    sslV2, sslV2_CLIENT, sslV2_SERVER, sslV3, sslV3_CLIENT, sslV3_SERVER, sslTLS_V1,
    sslTLS_V1_CLIENT, sslTLS_V1_SERVER, sslV23, sslV23_CLIENT, sslV23_SERVER, sslTLS_V1_1,
    sslTLS_V1_1_CLIENT, sslTLS_V1_1_SERVER, sslTLS_V1_2, sslTLS_V1_2_CLIENT, sslTLS_V1_2_SERVER,
    sslBestVer, sslBestVer_CLIENT, sslBestVer_SERVER
};
enum TSslSecLevel {
    sslSecLevelAny, sslSecLevel80bits, sslSecLevel112bits, sslSecLevel128bits, sslSecLevel192bits,
    sslSecLevel256bits
};
enum TSslVerifyPeerMode {
    SslVerifyMode_NONE, SslVerifyMode_PEER, SslVerifyMode_FAIL_IF_NO_PEER_CERT, SslVerifyMode_CLIENT_ONCE
};
enum TSslSessCacheMode {
    sslSESS_CACHE_CLIENT, sslSESS_CACHE_SERVER, sslSESS_CACHE_NO_AUTO_CLEAR,
    sslSESS_CACHE_NO_INTERNAL_LOOKUP, sslSESS_CACHE_NO_INTERNAL_STORE
};
enum TSslVerifyFlag {
    sslX509_V_FLAG_CB_ISSUER_CHECK, sslX509_V_FLAG_USE_CHECK_TIME, sslX509_V_FLAG_CRL_CHECK,
    sslX509_V_FLAG_CRL_CHECK_ALL, sslX509_V_FLAG_IGNORE_CRITICAL, sslX509_V_FLAG_X509_STRICT,
    sslX509_V_FLAG_ALLOW_PROXY_CERTS, sslX509_V_FLAG_POLICY_CHECK, sslX509_V_FLAG_EXPLICIT_POLICY,
    sslX509_V_FLAG_INHIBIT_ANY, sslX509_V_FLAG_INHIBIT_MAP, sslX509_V_FLAG_NOTIFY_POLICY,
    sslX509_V_FLAG_EXTENDED_CRL_SUPPORT, sslX509_V_FLAG_USE_DELTAS, sslX509_V_FLAG_CHECK_SS_SIGNATURE,
    sslX509_V_FLAG_TRUSTED_FIRST, sslX509_V_FLAG_SUITEB_128_LOS_ONLY, sslX509_V_FLAG_SUITEB_192_LOS,
    sslX509_V_FLAG_SUITEB_128_LOS, sslX509_V_FLAG_PARTIAL_CHAIN, sslX509_V_FLAG_NO_ALT_CHAINS,
    sslX509_V_FLAG_NO_CHECK_TIME
};
enum TSslCheckHostFlag {
    sslX509_NO_HOST_CHECK, sslX509_CHECK_FLAG_ALWAYS_CHECK_SUBJECT, sslX509_CHECK_FLAG_NO_WILDCARDS,
    sslX509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, sslX509_CHECK_FLAG_MULTI_LABEL_WILDCARDS,
    sslX509_CHECK_FLAG_SINGLE_LABEL_SUBDOMAINS, sslX509_CHECK_FLAG_NEVER_CHECK_SUBJECT
};
enum TSslOption2 {
    sslOpt2_CIPHER_SERVER_PREFERENCE, sslOpt2_NO_RENEGOTIATION,
    sslOpt2_NO_SESSION_RESUMPTION_ON_RENEGOTIATION, sslOpt2_NO_COMPRESSION, SslOpt2_NO_ENCRYPT_THEN_MAC,
    sslOpt2_NO_TICKET, sslOpt2_NO_SSLv3, sslOpt2_NO_TLSv1, sslOpt2_NO_TLSv1_1, sslOpt2_NO_TLSv1_2,
    sslOpt2_NO_TLSv1_3, sslOpt2_TLS_ROLLBACK_BUG, sslOpt2_DONT_INSERT_EMPTY_FRAGMENTS,
    sslOpt2_ALLOW_UNSAFE_LEGACY_RENEGOTIATION, sslOpt2_TLSEXT_PADDING, sslOpt2_SAFARI_ECDHE_ECDSA_BUG,
    sslOpt2_CISCO_ANYCONNECT, SslOpt2_LEGACY_SERVER_CONNECT, SslOpt2_ALLOW_NO_DHE_KEX
};
// Kept for compatibility; they have no effect.
enum TSslOption {
    sslOpt_CIPHER_SERVER_PREFERENCE, sslOpt_MICROSOFT_SESS_ID_BUG, sslOpt_NETSCAPE_CHALLENGE_BUG,
    sslOpt_NETSCAPE_REUSE_CIPHER_CHANGE_BUG, sslOpt_SSLREF2_REUSE_CERT_TYPE_BUG,
    sslOpt_MICROSOFT_BIG_SSLV3_BUFFER, sslOpt_MSIE_SSLV2_RSA_PADDING, sslOpt_SSLEAY_080_CLIENT_DH_BUG,
    sslOpt_TLS_D5_BUG, sslOpt_TLS_BLOCK_PADDING_BUG, sslOpt_TLS_ROLLBACK_BUG, sslOpt_NO_SSLv2,
    sslOpt_NO_SSLv3, sslOpt_NO_TLSv1, sslOpt_PKCS1_CHECK_1, sslOpt_PKCS1_CHECK_2,
    sslOpt_NETSCAPE_CA_DN_BUG, sslOpt_NO_SESSION_RESUMPTION_ON_RENEGOTIATION,
    sslOpt_NETSCAPE_DEMO_CIPHER_CHANGE_BUG, sslOpt_NO_TLSv1_1, sslOpt_NO_TLSv1_2, sslOpt_NO_TICKET,
    sslOpt_NO_COMPRESSION, sslOpt_ALLOW_UNSAFE_LEGACY_RENEGOTIATION, sslOpt_LEGACY_SERVER_CONNECT,
    sslOpt_DONT_INSERT_EMPTY_FRAGMENTS, sslOpt_ALL, sslOpt_NO_TLSv1_3, SslOpt_SINGLE_DH_USE,
    SslOpt_SINGLE_ECDH_USE
};
enum TSslECDHMethod { sslECDHNone, sslECDHAuto, sslECDH_P256, sslECDH_P384, sslECDH_P521 };
enum TSslCliSecurity {
    sslCliSecIgnore, sslCliSecNone, sslCliSecSsl3Only, sslCliSecTls1Only, sslCliSecTls11Only,
    sslCliSecTls12Only, sslCliSecTls13Only, sslCliSecTls1, sslCliSecTls11, sslCliSecTls12,
    sslCliSecBack, sslCliSecInter, sslCliSecHigh, sslCliSecHigh128, sslCliSecHigh192
};
enum TSslEngineCtxCapabilities { eccLoadPrivKey, eccLoadPubKey };

// The protocol number of a range bound (0x300 .. 0x304; sslVerMax is TLS 1.3).
int SslVerMethodNumber(TSslVerMethod V);
// OpenSSL's bits for an option set (the table of TSslOption2).
uint64_t SslOptions2Bits(const std::set<TSslOption2>& Options);
// OpenSSL's X509_V_FLAG_ value of a verify flag.
unsigned long SslVerifyFlagBits(TSslVerifyFlag Flag);

// ---- Reading PEM text -------------------------------------------------------------------------

// Every certificate (and, with Crls, every CRL) of PEM Text; Errors collects the failures of
// single blocks. Certificates land in Certs, CRLs in CrlStack; each stays null when nothing
// was read. The caller owns what is returned.
void SslReadPemObjects(const std::string& Text, bool Crls, STACK_OF(X509) * &Certs,
                       STACK_OF(X509_CRL) * &CrlStack, std::string& Errors);
// The first "PRIVATE KEY" block of Text, tried with PassPhrase and then without one; null and
// Error when it cannot be read.
EVP_PKEY* SslReadPemPrivateKey(const std::string& Text, const std::string& PassPhrase, std::string& Error);

// ---- Engine -----------------------------------------------------------------------------------

class TSslEngine : public TSslBaseComponent {
public:
    explicit TSslEngine(framework::TComponent* Owner);
    ~TSslEngine() override;

    std::string KeyID;
    std::set<TSslEngineCtxCapabilities> CtxCapabilities;
    std::string LastErrorMsg;

    const std::string& NameID() const { return nameId_; }
    // Closes the engine first.
    void SetNameID(const std::string& Value);
    // Finds the engine by its name (ENGINE_by_id); false when OpenSSL does not know it.
    bool Open();
    bool Init();
    void Close();
    ENGINE* Engine() const { return engine_; }
    int State() const { return state_; }

private:
    ENGINE* engine_ = nullptr;
    int state_ = 0;  // 0 closed, 1 opened, 2 initialised
    std::string nameId_;
};

// ---- Context ----------------------------------------------------------------------------------

class TSslContext : public TSslBaseComponent {
public:
    explicit TSslContext(framework::TComponent* Owner);
    ~TSslContext() override;

    // Builds the SSL_CTX from the settings (the socket calls it when it finds none).
    void BuildSslCtx();
    void FreeSslCtx();
    bool IsCtxInitialized() const { return ctx_ != nullptr; }
    SSL_CTX* SslCtx() const { return ctx_; }
    void Lock() { lock_.Enter(); }
    void Unlock() { lock_.Leave(); }
    void RegisterSocket(framework::TComponent* Socket);
    void UnregisterSocket(framework::TComponent* Socket);
    void ApplyCliSecurity();
    // Adds every certificate of the Windows ROOT store (crypt32) to the built context's store;
    // returns how many were added. Also done by the build when SslUseWindowsRootStore is set.
    int LoadWindowsRootStore();
    // What a client connection takes from the context for HostName: the server name
    // (its ASCII form) and, unless the host check is off, the verify parameters that make
    // OpenSSL check the peer's certificate against that name or address (RFC 6125).
    void PrepareClientSsl(SSL* Ssl, const std::string& HostName);

    // The context's own certificate, key and intermediates; they take the place of the
    // file and lines properties when set.
    TX509Base* OwnCertificate() const { return ownCertificate_.get(); }

    // ---- Properties (setters act at once on a built context where noted) ----
    const std::string& SslCertFile() const { return certFile_; }
    void SetSslCertFile(const std::string& V);
    const framework::TStringList& SslCertLines() const { return certLines_; }
    void SetSslCertLines(const std::string& Text);
    std::string SslPassPhrase;
    const std::string& SslPrivKeyFile() const { return privKeyFile_; }
    void SetSslPrivKeyFile(const std::string& V);
    const framework::TStringList& SslPrivKeyLines() const { return privKeyLines_; }
    void SetSslPrivKeyLines(const std::string& Text);
    const std::string& SslCAFile() const { return caFile_; }
    void SetSslCAFile(const std::string& V);
    const std::string& SslCAPath() const { return caPath_; }
    void SetSslCAPath(const std::string& V);
    const framework::TStringList& SslCALines() const { return caLines_; }
    void SetSslCALines(const std::string& Text);
    std::string SslCRLFile;
    std::string SslCRLPath;
    const std::string& SslDHParamFile() const { return dhFile_; }
    void SetSslDHParamFile(const std::string& V);
    const framework::TStringList& SslDHParamLines() const { return dhLines_; }
    void SetSslDHParamLines(const std::string& Text);
    bool SslVerifyPeer() const { return verifyPeer_; }
    void SetSslVerifyPeer(bool V);
    int32_t SslVerifyDepth = 9;
    std::set<TSslVerifyFlag> SslVerifyFlags() const;
    void SetSslVerifyFlags(const std::set<TSslVerifyFlag>& V);
    unsigned long SslVerifyFlagsValue() const { return verifyFlagBits_; }
    std::set<TSslCheckHostFlag> SslCheckHostFlags() const;
    void SetSslCheckHostFlags(const std::set<TSslCheckHostFlag>& V);
    // -1 when no host check is made, else the X509_CHECK_FLAG_ bits.
    int32_t SslCheckHostFlagsValue() const { return hostFlagBits_; }
    TSslSecLevel SslSecLevel = sslSecLevel80bits;
    std::set<TSslOption> SslOptions;
    std::set<TSslOption2> SslOptions2{sslOpt2_ALLOW_UNSAFE_LEGACY_RENEGOTIATION, SslOpt2_LEGACY_SERVER_CONNECT};
    const std::set<TSslVerifyPeerMode>& SslVerifyPeerModes() const { return verifyModes_; }
    void SetSslVerifyPeerModes(const std::set<TSslVerifyPeerMode>& V);
    int SslVerifyPeerModesValue() const { return verifyModeBits_; }
    std::set<TSslSessCacheMode> SslSessionCacheModes() const;
    void SetSslSessionCacheModes(const std::set<TSslSessCacheMode>& V);
    std::string SslCipherList = "ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH";
    TSslVersionMethod SslVersionMethod = sslBestVer;
    TSslVerMethod SslMinVersion = sslVerSSL3;
    TSslVerMethod SslMaxVersion = sslVerMax;
    TSslECDHMethod SslECDHMethod = sslECDHNone;
    std::string SslCryptoGroups = "P-256:X25519:P-384:P-512";
    TSslCliSecurity SslCliSecurity() const { return cliSecurity_; }
    void SetSslCliSecurity(TSslCliSecurity V);
    const framework::TStringList& SslAlpnProtocols() const { return alpn_; }
    void SetSslAlpnProtocols(const std::string& Text);
    bool SslOcspStatus = false;
    int32_t SslSessionTimeout = 0;
    int32_t SslSessionCacheSize = 20480;
    const std::string& SslDefaultSessionIDContext() const { return sessionIdContext_; }
    void SetSslDefaultSessionIDContext(const std::string& V);
    // Trust the certificates of the Windows ROOT store as well (added at the build).
    bool SslUseWindowsRootStore = false;
    std::function<void(TSslContext* Sender, SSL_SESSION* SslSession)> OnRemoveSession;
    std::function<void(TSslContext* Sender)> OnBeforeInit;
    bool AutoEnableBuiltinEngines = false;
    TSslEngine* CtxEngine() const { return ctxEngine_; }
    void SetCtxEngine(TSslEngine* Engine);

    // The callbacks the build installs on every SSL_CTX; the TLS socket layer supplies them
    // (each null one is left out). The context is the argument of the client-hello, ALPN and
    // OCSP callbacks.
    struct TCallbacks {
        int (*Verify)(int Ok, X509_STORE_CTX* StoreCtx) = nullptr;
        int (*NewSession)(SSL* Ssl, SSL_SESSION* Session) = nullptr;
        SSL_SESSION* (*GetSession)(SSL* Ssl, const unsigned char* Id, int Len, int* Copy) = nullptr;
        int (*ClientHello)(SSL* Ssl, int* Alert, void* Arg) = nullptr;
        int (*AlpnSelect)(SSL* Ssl, const unsigned char** Out, unsigned char* OutLen, const unsigned char* In,
                          unsigned int InLen, void* Arg) = nullptr;
        int (*OcspStatus)(SSL* Ssl, void* Arg) = nullptr;
    };
    static TCallbacks Callbacks;

    // The built-in 4096-bit DH group (PEM text).
    static const char* const DefaultDHParams;

protected:
    void Notification(framework::TComponent* Component, framework::TOperation Operation) override;

private:
    struct Locked;
    void ApplyProtocolSettings();
    void ApplyVerify();
    void ApplyCipherList();
    long SetDHParams(BIO* Bio, const std::string& ReadError);
    std::string EffectiveCipherList() const;
    void LoadCertFile(const std::string& FileName);
    void LoadCertText(const std::string& Text, const std::string& FileName);
    void LoadPrivKeyFile(const std::string& FileName);
    void LoadPrivKeyText(const std::string& Text);
    void LoadOwnCertificate();
    void AddStackToStore(STACK_OF(X509) * Stack);
    void LoadVerifyLocations();
    void LoadCALines();
    void LoadCRLFile(const std::string& FileName);
    void LoadCRLPath(const std::string& Path);
    void LoadDHParamFile(const std::string& FileName);
    void LoadDHParamText(const std::string& Text);
    void LoadEngineKey();
    void SetAlpnOnCtx();
    void SetSessionIdContextOnCtx();
    void RequireCtx() const;
    std::string ReadFileText(const std::string& FileName);

    SSL_CTX* ctx_ = nullptr;
    TInetCriticalSection lock_;
    std::unique_ptr<TX509Base> ownCertificate_;
    std::string certFile_, privKeyFile_, caFile_, caPath_, dhFile_;
    framework::TStringList certLines_, privKeyLines_, caLines_, dhLines_, alpn_;
    bool verifyPeer_ = false;
    std::set<TSslVerifyPeerMode> verifyModes_{SslVerifyMode_PEER};
    int verifyModeBits_ = SSL_VERIFY_PEER;
    unsigned long verifyFlagBits_ = 0;
    int32_t hostFlagBits_ = 0;
    long sessCacheBits_ = 0;
    TSslCliSecurity cliSecurity_ = sslCliSecIgnore;
    std::string sessionIdContext_;
    TSslEngine* ctxEngine_ = nullptr;
    UI_METHOD* uiMethod_ = nullptr;
    std::vector<framework::TComponent*> sockets_;
};

// Opens a file as an OpenSSL BIO (Mode "rb", "r+b", "w+b", "w+"), with the checks the context
// loaders share; raises ESslContextException.
BIO* SslOpenFileBio(const std::string& FileName, const char* Mode);
// Reads a whole BIO into text.
std::string SslReadBioText(BIO* Bio);

