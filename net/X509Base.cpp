#include "net/X509Base.h"

#include <cstring>

#include "net/InetIdn.h"

namespace {

struct BioGuard {
    BIO* b;
    ~BioGuard() { if (b) ossl::BIO_free(b); }
};

std::string TrimLineEnds(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

std::string IdnToText(const std::string& s) {
    if (s.find("xn--") == std::string::npos && s.find("XN--") == std::string::npos) return s;
    return InetWideToAnsi(InetHostToUnicode(s));
}

std::vector<std::string> SplitLines(const std::string& s) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < s.size()) {
        size_t e = s.find('\n', start);
        if (e == std::string::npos) e = s.size();
        std::string line = s.substr(start, e - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = e + 1;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& parts, const std::string& sep) {
    std::string r;
    for (size_t i = 0; i < parts.size(); ++i) r += (i ? sep : std::string()) + parts[i];
    return r;
}

std::string ReplaceLineBreaks(const std::string& s, const std::string& by) {
    return Join(SplitLines(s), by);
}

std::string LowerHex(const std::string& bytes) {
    return InetAsciiLower(InetBytesToHex(bytes));
}

std::string Digest(X509* x, const EVP_MD* md) {
    unsigned char buf[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!x || !md || ossl::X509_digest(x, md, buf, &len) != 1) return std::string();
    return std::string(reinterpret_cast<char*>(buf), len);
}

std::string ReadMemBio(BIO* b) {
    char* data = nullptr;
    const long n = ossl::BIO_ctrl(b, BIO_CTRL_INFO, 0, &data);  // BIO_get_mem_data
    return n > 0 && data ? std::string(data, static_cast<size_t>(n)) : std::string();
}

}  // namespace

// ---- TX509Base --------------------------------------------------------------------------------

TX509Base::TX509Base(framework::TComponent* Owner, X509* Cert) : TSslBaseComponent(Owner) {
    utf8_ = true;
    ClearInfo();
    if (Cert) {
        LoadSslOnce();
        x509_ = ossl::X509_dup(Cert);
    }
}

TX509Base::~TX509Base() {
    if (SslLoaded()) FreeAll();
}

void TX509Base::ClearHashes() {
    sha1Hash_.clear();
    sha256Hash_.clear();
    infoCache_.clear();
}

void TX509Base::ClearInfo() {
    VerifyDepth = 0;
    ClearHashes();
    VerifyResult = FirstVerifyResult = CustomVerifyResult = X509_V_ERR_APPLICATION_VERIFICATION;
}

void TX509Base::SetX509(X509* Cert) {
    LoadSslOnce();
    FreeX509();
    ClearInfo();
    if (Cert) x509_ = ossl::X509_dup(Cert);
}

void TX509Base::SetPrivateKey(EVP_PKEY* Key) {
    LoadSslOnce();
    FreePrivateKey();
    privateKey_ = SslEvpPkeyDup(Key);
}

void TX509Base::SetX509Inters(STACK_OF(X509) * Stack) {
    LoadSslOnce();
    FreeIntermediates();
    inters_ = Stack;
}

void TX509Base::FreeX509() {
    if (x509_) ossl::X509_free(x509_);
    x509_ = nullptr;
    ClearHashes();
}

void TX509Base::FreePrivateKey() {
    if (privateKey_) ossl::EVP_PKEY_free(privateKey_);
    privateKey_ = nullptr;
}

void TX509Base::FreeIntermediates() {
    SslFreeX509Stack(inters_);
    inters_ = nullptr;
}

void TX509Base::FreeAll() {
    FreeX509();
    FreePrivateKey();
    FreeIntermediates();
}

int TX509Base::InterCount() const { return SslStackCount(inters_); }

int TX509Base::ExtensionCount() const { return x509_ ? ossl::X509_get_ext_count(x509_) : 0; }

// ---- Texts ------------------------------------------------------------------------------------

std::string TX509Base::NameEntries(const X509_NAME* Name, int Nid) const {
    if (!Name) return std::string();
    std::vector<std::string> parts;
    int pos = -1;
    while ((pos = ossl::X509_NAME_get_index_by_NID(Name, Nid, pos)) >= 0) {
        X509_NAME_ENTRY* e = ossl::X509_NAME_get_entry(Name, pos);
        parts.push_back(IdnToText(InetAsn1StringToText(ossl::X509_NAME_ENTRY_get_data(e))));
    }
    return TrimLineEnds(Join(parts, "\r\n"));
}

std::string TX509Base::SubjectEntries(int Nid) const {
    return x509_ ? NameEntries(ossl::X509_get_subject_name(x509_), Nid) : std::string();
}

std::string TX509Base::IssuerEntries(int Nid) const {
    return x509_ ? NameEntries(ossl::X509_get_issuer_name(x509_), Nid) : std::string();
}

std::string TX509Base::SignatureAlgorithm() const {
    if (!x509_) return std::string();
    const char* n = ossl::OBJ_nid2ln(ossl::X509_get_signature_nid(x509_));
    return n ? n : "";
}

std::string TX509Base::KeyInfo() const {
    if (!x509_) return std::string();
    EVP_PKEY* key = ossl::X509_get0_pubkey(x509_);
    if (!key) return std::string();
    std::string r;
    const int id = ossl::EVP_PKEY_get_base_id(key);
    switch (id) {
    case EVP_PKEY_RSA: r = "RSA Key Encryption"; break;
    case EVP_PKEY_DSA: r = "DSA Key Encryption"; break;
    case EVP_PKEY_DH: r = "DH Key Encryption"; break;
    case EVP_PKEY_EC: {
        r = "ECDSA Key Encryption";
        const char* curve = nullptr;
        if (ossl::EVP_PKEY_get0_EC_KEY && ossl::EC_KEY_get0_group && ossl::EC_GROUP_get_curve_name) {
            const EC_KEY* ec = ossl::EVP_PKEY_get0_EC_KEY(key);
            const EC_GROUP* g = ec ? ossl::EC_KEY_get0_group(ec) : nullptr;
            curve = g ? ossl::OBJ_nid2ln(ossl::EC_GROUP_get_curve_name(g)) : nullptr;
        } else if (ossl::EVP_PKEY_get_utf8_string_param) {
            // Without the deprecated EC_KEY calls: the group's short name, shown by its long one.
            char group[80] = {};
            size_t len = 0;
            if (ossl::EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, &len) == 1)
                curve = ossl::OBJ_nid2ln(ossl::OBJ_txt2nid(group));
            ossl::ERR_clear_error();
        }
        if (curve) r += std::string(" ") + curve;
        break;
    }
    case EVP_PKEY_ED25519: r = "ED25519 Key Encryption"; break;
    case EVP_PKEY_X25519: r = "X25519 Key Encryption"; break;
    case EVP_PKEY_RSA_PSS: r = "RSA-PSS Key Encryption"; break;
    default: {
        const char* n = ossl::OBJ_nid2ln(id);
        r = n ? n : "";
    }
    }
    const int bits = ossl::EVP_PKEY_get_bits(key);
    if (bits > 0) r += " " + std::to_string(bits) + " bits";
    const int sec = ossl::EVP_PKEY_get_security_bits(key);
    if (sec > 0) r += " " + std::to_string(sec) + " security bits";
    return r;
}

int64_t TX509Base::SerialNum() const {
    if (!x509_) return -1;
    const ASN1_INTEGER* s = ossl::X509_get_serialNumber(x509_);
    int64_t v = 0;
    if (!s || ossl::ASN1_INTEGER_get_int64(&v, s) != 1) {
        ossl::ERR_clear_error();
        return -1;
    }
    return v;
}

std::string TX509Base::SerialNumHex() const {
    if (!x509_) return std::string();
    const ASN1_INTEGER* s = ossl::X509_get_serialNumber(x509_);
    if (!s) return std::string();
    const int len = ossl::ASN1_STRING_length(s);
    const unsigned char* d = ossl::ASN1_STRING_get0_data(s);
    if (len <= 0 || !d) return std::string();
    return LowerHex(std::string(reinterpret_cast<const char*>(d), static_cast<size_t>(len)));
}

TDateTime TX509Base::ValidNotBefore() const {
    TDateTime d = InetMinDateTime;
    if (x509_) InetAsn1TimeToDateTime(ossl::X509_get0_notBefore(x509_), d);
    return d;
}

TDateTime TX509Base::ValidNotAfter() const {
    TDateTime d = InetMinDateTime;
    if (x509_) InetAsn1TimeToDateTime(ossl::X509_get0_notAfter(x509_), d);
    return d;
}

const std::string& TX509Base::Sha1Hash() {
    if (sha1Hash_.empty() && x509_) sha1Hash_ = Digest(x509_, ossl::EVP_sha1());
    return sha1Hash_;
}
std::string TX509Base::Sha1Hex() { return LowerHex(Sha1Hash()); }

const std::string& TX509Base::Sha256Hash() {
    if (sha256Hash_.empty() && x509_) sha256Hash_ = Digest(x509_, ossl::EVP_sha256());
    return sha256Hash_;
}
std::string TX509Base::Sha256Hex() { return LowerHex(Sha256Hash()); }

bool TX509Base::SelfSigned() const {
    if (!x509_) return false;
    if (ossl::X509_check_issued(x509_, x509_) == X509_V_OK) return true;
    ossl::ERR_clear_error();
    return IssuerCName() == SubjectCName();
}

bool TX509Base::IsEV() const {
    const std::string p = ExtensionValue("certificatePolicies", std::string());
    auto anyOf = [](const std::string& text, std::initializer_list<const char*> ids) {
        for (const char* id : ids)
            if (text.find(id) != std::string::npos) return true;
        return false;
    };
    size_t at = p.find("1.3.6.1.4.1.");
    if (at != std::string::npos) {
        if (p.size() < at + 17) return false;
        return anyOf(p.substr(at + 12, 99), {"34697.2", "6449.1.2.1.5.1", "14370.1.6", "4146.1.1", "782.1.2.1.8.1",
                                             "22234.2.5.2.3.1", "23223.2", "6334.1.100.1", "36305.2"});
    }
    at = p.find("2.16.840.1.");
    if (at != std::string::npos) {
        if (p.size() < at + 17) return false;
        return anyOf(p.substr(at + 11, 99), {"114412.2.1", "114412.1.3.0.2", "114028.10.1.2", "114413.1.7.23.3",
                                             "114414.1.7.23.3", "113733.1.7.48.1", "114404.1.1.2.4.1",
                                             "113733.1.7.23.6"});
    }
    return anyOf(p, {"2.16.756.1.83.21.0", "2.16.756.80.1.1.1.1"});
}

std::string TX509Base::CertInfo(bool Brief) {
    if (!x509_) return std::string();
    auto flat = [](const std::string& s) { return ReplaceLineBreaks(s, ", "); };
    std::string r;
    const std::string cn = flat(SubjectCName());
    r += "Issued to (CN): " + (cn.empty() ? std::string("(Blank)") : cn);
    if (const std::string o = flat(SubjectOName()); !o.empty()) r += ", (O): " + o;
    if (const std::string ou = flat(SubjectOUName()); !ou.empty()) r += ", (OU): " + ou;
    r += "\r\n";
    if (const std::string dns = flat(SubAltNameDNS()); !dns.empty()) r += "Alt Domains (SAN): " + dns + "\r\n";
    if (const std::string ip = flat(SubAltNameIP()); !ip.empty()) r += "Alt IP: " + ip + "\r\n";
    if (SelfSigned()) {
        r += "Issuer: Self Signed\r\n";
    } else {
        r += "Issuer (CN): " + flat(IssuerCName());
        if (const std::string o = flat(IssuerOName()); !o.empty()) r += ", (O): " + o;
        if (const std::string ou = flat(IssuerOUName()); !ou.empty()) r += ", (OU): " + ou;
        r += "\r\n";
    }
    r += "Expires: " + InetIso8601Text(ValidNotAfter(), false) + ", Signature: " + SignatureAlgorithm() + "\r\n";
    if (!Brief) {
        r += "Valid From: " + InetIso8601Text(ValidNotBefore(), false) + ", Serial Number: " + SerialNumHex() + "\r\n";
        r += "Fingerprint (sha256): " + Sha256Hex() + "\r\n";
        r += "Public Key: " + KeyInfo();
        if (IsEV()) r += "\r\nExtended Validation (EV) SSL Server Certificate";
    }
    return r;
}

// ---- Extensions -------------------------------------------------------------------------------

TExtension TX509Base::DecodeExtension(X509_EXTENSION* Ext) {
    if (!Ext) throw EX509Exception("Extension not assigned");
    TExtension r;
    r.Critical = ossl::X509_EXTENSION_get_critical(Ext) > 0;
    ASN1_OBJECT* obj = ossl::X509_EXTENSION_get_object(Ext);
    const int nid = ossl::OBJ_obj2nid(obj);
    if (nid != NID_undef) {
        const char* sn = ossl::OBJ_nid2sn(nid);
        r.ShortName = sn ? sn : "";
    } else {
        BIO* b = ossl::BIO_new(ossl::BIO_s_mem());
        BioGuard g{b};
        ossl::i2a_ASN1_OBJECT(b, obj);
        r.ShortName = ReadMemBio(b);
    }
    ASN1_OCTET_STRING* data = ossl::X509_EXTENSION_get_data(Ext);
    const X509V3_EXT_METHOD* method = ossl::X509V3_EXT_get(Ext);
    if (!method) {
        r.Value = InetAsn1StringToText(data);
        return r;
    }
    const unsigned char* p = ossl::ASN1_STRING_get0_data(data);
    const long len = ossl::ASN1_STRING_length(data);
    void* ext = method->it ? static_cast<void*>(ossl::ASN1_item_d2i(nullptr, &p, len, ASN1_ITEM_ptr(method->it)))
                           : (method->d2i ? method->d2i(nullptr, &p, len) : nullptr);
    if (!ext) {
        ossl::ERR_clear_error();
        r.Value = InetAsn1StringToText(data);
        return r;
    }
    if (method->i2s) {
        char* s = method->i2s(method, ext);
        if (s) {
            r.Value = s;
            SslCryptoFree(s);
        }
    } else if (method->i2v) {
        STACK_OF(CONF_VALUE)* values = method->i2v(method, ext, nullptr);
        std::vector<std::string> lines;
        for (int i = 0; i < SslStackCount(values); ++i) {
            const CONF_VALUE* v = SslStackItem<CONF_VALUE>(values, i);
            const std::string name = v->name ? v->name : "", value = v->value ? v->value : "";
            lines.push_back(!name.empty() && !value.empty() ? name + "=" + value : name + value);
        }
        r.Value = Join(lines, "\r\n");
        if (values)
            ossl::OPENSSL_sk_pop_free(reinterpret_cast<OPENSSL_STACK*>(values),
                                      reinterpret_cast<void (*)(void*)>(ossl::X509V3_conf_free));
    } else if (method->i2r) {
        BIO* b = ossl::BIO_new(ossl::BIO_s_mem());
        BioGuard g{b};
        method->i2r(method, ext, b, 0);
        std::string s = ReadMemBio(b);
        while (!s.empty() && s.back() == '\n') s.pop_back();
        r.Value = Join(SplitLines(s), "\r\n");
    }
    if (method->it) ossl::ASN1_item_free(static_cast<ASN1_VALUE*>(ext), ASN1_ITEM_ptr(method->it));
    else if (method->ext_free) method->ext_free(ext);
    return r;
}

TExtension TX509Base::GetExtension(int Index) const {
    if (!x509_) return TExtension();
    if (Index < 0 || Index >= ExtensionCount()) throw EX509Exception("Extension index out of bounds");
    X509_EXTENSION* ext = ossl::X509_get_ext(x509_, Index);
    if (!ext) throw EX509Exception("Extension not assigned");
    return DecodeExtension(ext);
}

TExtension TX509Base::ExtensionByName(const std::string& Name) const {
    if (!x509_) return TExtension();
    const std::string want = Name.substr(0, 255);
    for (int i = 0; i < ExtensionCount(); ++i) {
        X509_EXTENSION* ext = ossl::X509_get_ext(x509_, i);
        ASN1_OBJECT* obj = ossl::X509_EXTENSION_get_object(ext);
        const char* sn = ossl::OBJ_nid2sn(ossl::OBJ_obj2nid(obj));
        char oid[256] = {};
        ossl::OBJ_obj2txt(oid, sizeof oid, obj, 1);
        if ((sn && InetTextCompare(std::string(sn).substr(0, 255), want) == 0) || InetTextCompare(oid, want) == 0)
            return DecodeExtension(ext);
    }
    return TExtension();
}

std::string TX509Base::ExtensionValue(const std::string& Name, const std::string& Field) const {
    const TExtension ext = ExtensionByName(Name);
    std::vector<std::string> out;
    const std::string field = InetAsciiUpper(Field);
    for (const std::string& line : SplitLines(ext.Value)) {
        if (Field.empty()) {
            out.push_back(line);
            continue;
        }
        const size_t eq = line.find('=');
        const std::string name = InetAsciiUpper(line.substr(0, eq));
        if (name.compare(0, field.size(), field) != 0) continue;
        out.push_back(IdnToText(eq == std::string::npos ? std::string() : line.substr(eq + 1)));
    }
    return Join(out, "\r\n");
}

bool TX509Base::PostConnectionCheck(const std::string& HostName) const {
    if (!x509_ || HostName.empty()) return false;
    std::string host = HostName;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    // An address is matched against the address entries only (never a DNS name or the CN).
    const int ip = ossl::X509_check_ip_asc(x509_, host.c_str(), 0);
    if (ip != -2) {
        ossl::ERR_clear_error();
        return ip == 1;
    }
    ossl::ERR_clear_error();
    const std::string ascii = InetHostToAscii(InetAnsiToWide(host));
    const int r = ossl::X509_check_host(x509_, ascii.data(), ascii.size(), 0, nullptr);
    ossl::ERR_clear_error();
    return r == 1;
}

// ---- Reading ----------------------------------------------------------------------------------

void TX509Base::LoadFromText(const std::string& Text, int KeyMode, std::string& Errors,
                             const std::string& PassPhrase, bool LoadInters) {
    LoadSslOnce();
    Errors.clear();
    auto addError = [&](const std::string& e) {
        if (!Errors.empty()) Errors += "\r\n";
        Errors += e;
    };
    if (Text.find("-----BEGIN ") != std::string::npos) {
        STACK_OF(X509)* certs = nullptr;
        STACK_OF(X509_CRL)* crls = nullptr;
        std::string errors;
        SslReadPemObjects(Text, false, certs, crls, errors);
        if (!errors.empty()) addError("Reading X509 Base64 certificate: " + errors);
        // What was loaded before never stays beside what this text holds: a stale certificate
        // or chain would be served with the new one.
        FreeIntermediates();
        if (!certs) {
            SetX509(nullptr);
            addError("No X509 Base64 certificate found");
        } else {
            SetX509(SslStackItem<X509>(certs, 0));
            if (SslStackCount(certs) > 1 && LoadInters) {
                auto* inters = reinterpret_cast<STACK_OF(X509)*>(ossl::OPENSSL_sk_new_null());
                if (!inters) {
                    addError("Error creating X509 stack");
                } else {
                    for (int i = 1; i < SslStackCount(certs); ++i)
                        ossl::OPENSSL_sk_push(reinterpret_cast<OPENSSL_STACK*>(inters),
                                              ossl::X509_dup(SslStackItem<X509>(certs, i)));
                    SetX509Inters(inters);
                }
            }
            SslFreeX509Stack(certs);
        }
        if (KeyMode == 1 || KeyMode == 2) {
            std::string error;
            EVP_PKEY* key = SslReadPemPrivateKey(Text, SslText(PassPhrase), error);
            if (key) {
                if (x509_ && ossl::X509_check_private_key(x509_, key) < 1) {
                    ossl::ERR_clear_error();
                    addError("Certificate and private key do not match");
                }
                SetPrivateKey(key);
                ossl::EVP_PKEY_free(key);
            } else if (KeyMode == 2) {
                addError(error);
            } else {
                ossl::ERR_clear_error();
            }
        }
        return;
    }
    BIO* b = ossl::BIO_new_mem_buf(Text.data(), static_cast<int>(Text.size()));
    BioGuard g{b};
    X509* x = b ? ossl::d2i_X509_bio(b, nullptr) : nullptr;
    FreeIntermediates();
    if (!x) {
        SetX509(nullptr);
        ossl::ERR_clear_error();
        addError("Error reading X509 DER certificate");
        return;
    }
    SetX509(x);
    ossl::X509_free(x);
}

// ---- Writing ----------------------------------------------------------------------------------

void TX509Base::WriteTextToBio(BIO* Bio, const std::string& Text, bool StripCR) {
    if (!Bio) throw EX509Exception("BIO not assigned");
    std::string t = Text;
    if (StripCR) std::erase(t, '\r');
    if (!t.empty() && ossl::BIO_write(Bio, t.data(), static_cast<int>(t.size())) <= 0)
        RaiseOpenSslErrors<EX509Exception>("Error writing text to BIO");
}

void TX509Base::WriteCertToBio(BIO* Bio, bool AddInfoText, const std::string& FileName) {
    if (!Bio) throw EX509Exception("BIO not assigned");
    if (!x509_) throw EX509Exception("X509 not assigned");
    if (AddInfoText) WriteTextToBio(Bio, InetToUtf8(CertInfo(false) + "\r\n"), true);
    if (ossl::PEM_write_bio_X509(Bio, x509_) != 1)
        RaiseOpenSslErrors<EX509Exception>("Error writing certificate to " + FileName);
}

void TX509Base::WritePKeyToBio(BIO* Bio, const std::string& PassPhrase, const std::string& FileName, int KeyCipher) {
    if (!Bio) throw EX509Exception("BIO not assigned");
    if (!privateKey_) throw EX509Exception("Private key not assigned");
    int r;
    const EVP_CIPHER* cipher = (KeyCipher & 0x7F) != 0 ? SslEvpCipherByIndex(KeyCipher) : nullptr;
    // A cipher number the table does not know (or one this OpenSSL lacks) must not write the
    // key in clear when encryption was asked for.
    if ((KeyCipher & 0x7F) != 0 && (!cipher || cipher == ossl::EVP_enc_null()))
        throw EX509Exception("Error writing private key to " + FileName + " - unknown key cipher " +
                             std::to_string(KeyCipher & 0x7F));
    if (cipher) {
        std::string pass = SslText(PassPhrase);
        r = ossl::PEM_write_bio_PKCS8PrivateKey(Bio, privateKey_, cipher, pass.data(), static_cast<int>(pass.size()),
                                                nullptr, nullptr);
    } else {
        r = ossl::PEM_write_bio_PrivateKey(Bio, privateKey_, nullptr, nullptr, 0, nullptr, nullptr);
    }
    if (r != 1) RaiseOpenSslErrors<EX509Exception>("Error writing private key to " + FileName);
}

void TX509Base::WriteIntersToBio(BIO* Bio, bool AddInfoText, const std::string& FileName) {
    if (!Bio) throw EX509Exception("BIO not assigned");
    if (!inters_) throw EX509Exception("X509Inters not assigned");
    for (int i = 0; i < SslStackCount(inters_); ++i) {
        TX509Base item(nullptr, SslStackItem<X509>(inters_, i));
        if (item.SelfSigned()) continue;
        if (AddInfoText) WriteTextToBio(Bio, InetToUtf8(item.CertInfo(false) + "\r\n"), true);
        if (ossl::PEM_write_bio_X509(Bio, item.GetX509()) != 1)
            RaiseOpenSslErrors<EX509Exception>("Error writing certificate to " + FileName);
        WriteTextToBio(Bio, "\n\n", false);
    }
}

void TX509Base::WriteCertAndKeyToBio(BIO* Bio, const std::string& PassPhrase, const std::string& FileName,
                                     int KeyCipher) {
    WriteCertToBio(Bio, false, FileName);
    WriteTextToBio(Bio, "\n\n", false);
    WritePKeyToBio(Bio, PassPhrase, FileName, KeyCipher);
}

// ---- TX509List --------------------------------------------------------------------------------

TX509List::TX509List(framework::TComponent* Owner, bool) : owner_(Owner) {}

TX509List::~TX509List() { Clear(); }

void TX509List::Clear() {
    items_.clear();
    if (X509Store) ossl::X509_STORE_free(X509Store);
    X509Store = nullptr;
}

void TX509List::SetX509Class(TX509Class Class) {
    if (!items_.empty()) throw std::logic_error("The X509 class should only be set when the list is empty");
    class_ = std::move(Class);
}

TX509Base* TX509List::Find(X509* Cert) const {
    if (!Cert) return nullptr;
    const std::string hash = Digest(Cert, ossl::EVP_sha1());
    for (const auto& item : items_)
        if (item->Sha1Hash() == hash) return item.get();
    return nullptr;
}

TX509Base* TX509List::Add(X509* Cert) {
    TX509Base* item = class_ ? class_(owner_, Cert) : new TX509Base(owner_, Cert);
    items_.emplace_back(item);
    return item;
}
