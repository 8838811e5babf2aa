// One X.509 certificate, optionally with its private key and intermediate certificates, and
// its contents as text: subject and issuer fields, alternative names, validity, fingerprints,
// key description, extensions, an Extended Validation test and a description. Reads
// certificates and keys from PEM (or DER) text and writes them as PEM to an OpenSSL BIO.
// TX509List collects the certificates a TLS socket meets while verifying its peer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/SslContext.h"

struct TExtension {
    bool Critical = false;
    std::string ShortName;
    std::string Value;
};

class TX509Base : public TSslBaseComponent {
public:
    explicit TX509Base(framework::TComponent* Owner, X509* Cert = nullptr);
    ~TX509Base() override;

    // Duplicates Cert (null leaves none).
    void SetX509(X509* Cert);
    X509* GetX509() const { return x509_; }
    // Takes a new reference on Key.
    void SetPrivateKey(EVP_PKEY* Key);
    EVP_PKEY* PrivateKey() const { return privateKey_; }
    // Takes over Stack.
    void SetX509Inters(STACK_OF(X509) * Stack);
    STACK_OF(X509) * X509Inters() const { return inters_; }
    void FreeX509();
    void FreePrivateKey();
    void FreeIntermediates();
    void FreeAll();

    bool IsCertLoaded() const { return x509_ != nullptr; }
    bool IsPKeyLoaded() const { return privateKey_ != nullptr; }
    bool IsInterLoaded() const { return inters_ != nullptr; }
    int InterCount() const;
    int ExtensionCount() const;

    int32_t VerifyResult = X509_V_ERR_APPLICATION_VERIFICATION;
    int32_t VerifyDepth = 0;
    int32_t FirstVerifyResult = X509_V_ERR_APPLICATION_VERIFICATION;
    int32_t CustomVerifyResult = X509_V_ERR_APPLICATION_VERIFICATION;

    // ---- Texts (empty without a certificate) ----
    std::string SubjectEntries(int Nid) const;
    std::string IssuerEntries(int Nid) const;
    std::string SubjectCName() const { return SubjectEntries(NID_commonName); }
    std::string SubjectOName() const { return SubjectEntries(NID_organizationName); }
    std::string SubjectOUName() const { return SubjectEntries(NID_organizationalUnitName); }
    std::string SubjectCOName() const { return SubjectEntries(NID_countryName); }
    std::string SubjectSTName() const { return SubjectEntries(NID_stateOrProvinceName); }
    std::string SubjectLName() const { return SubjectEntries(NID_localityName); }
    std::string SubjectEmailName() const { return SubjectEntries(NID_pkcs9_emailAddress); }
    std::string IssuerCName() const { return IssuerEntries(NID_commonName); }
    std::string IssuerOName() const { return IssuerEntries(NID_organizationName); }
    std::string IssuerOUName() const { return IssuerEntries(NID_organizationalUnitName); }
    std::string SubAltNameDNS() const { return ExtensionValue("subjectAltName", "DNS"); }
    std::string SubAltNameIP() const { return ExtensionValue("subjectAltName", "IP"); }
    std::string SignatureAlgorithm() const;
    std::string KeyInfo() const;
    std::string SerialNumHex() const;
    TDateTime ValidNotBefore() const;
    TDateTime ValidNotAfter() const;
    const std::string& Sha1Hash();
    std::string Sha1Hex();
    const std::string& Sha256Hash();
    std::string Sha256Hex();
    bool SelfSigned() const;
    bool IsEV() const;
    std::string CertInfo(bool Brief = false);

    // ---- Extensions ----
    virtual int64_t SerialNum() const;
    virtual TExtension GetSubjectAltName() const { return ExtensionByName("subjectAltName"); }
    virtual TExtension GetExtension(int Index) const;
    TExtension ExtensionByName(const std::string& Name) const;
    std::string ExtensionValue(const std::string& Name, const std::string& Field) const;
    static TExtension DecodeExtension(X509_EXTENSION* Ext);

    virtual void ClearInfo();
    // Host-name check of the certificate against HostName (RFC 6125, OpenSSL's checks).
    virtual bool PostConnectionCheck(const std::string& HostName) const;

    // ---- Reading and writing ----
    // KeyMode 0 no key, 1 key if present, 2 key required. Errors are returned, not raised.
    virtual void LoadFromText(const std::string& Text, int KeyMode, std::string& Errors,
                              const std::string& PassPhrase = std::string(), bool LoadInters = true);
    virtual void WriteCertAndKeyToBio(BIO* Bio, const std::string& PassPhrase = std::string(),
                                      const std::string& FileName = std::string(), int KeyCipher = 0);
    virtual void WriteCertToBio(BIO* Bio, bool AddInfoText = false, const std::string& FileName = std::string());
    virtual void WritePKeyToBio(BIO* Bio, const std::string& PassPhrase = std::string(),
                                const std::string& FileName = std::string(), int KeyCipher = 0);
    virtual void WriteIntersToBio(BIO* Bio, bool AddInfoText = false, const std::string& FileName = std::string());
    void WriteTextToBio(BIO* Bio, const std::string& Text, bool StripCR);

private:
    std::string NameEntries(const X509_NAME* Name, int Nid) const;
    void ClearHashes();

    X509* x509_ = nullptr;
    EVP_PKEY* privateKey_ = nullptr;
    std::string sha1Hash_, sha256Hash_;
    STACK_OF(X509) * inters_ = nullptr;
    std::string infoCache_;
};

class TX509List {
public:
    explicit TX509List(framework::TComponent* Owner, bool OwnsObjects = true);
    ~TX509List();
    TX509List(const TX509List&) = delete;
    TX509List& operator=(const TX509List&) = delete;

    using TX509Class = std::function<TX509Base*(framework::TComponent* Owner, X509* Cert)>;

    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    TX509Base* Items(int Index) const { return items_.at(Index).get(); }
    // Only while the list is empty.
    void SetX509Class(TX509Class Class);
    TX509Base* Find(X509* Cert) const;
    TX509Base* Add(X509* Cert);

    int32_t LastVerifyResult = 0;
    X509_STORE* X509Store = nullptr;

private:
    std::vector<std::unique_ptr<TX509Base>> items_;
    TX509Class class_;
    framework::TComponent* owner_;
};
