// wincrypt.h first: OpenSSL's headers take back the names it defines as macros.
#include <windows.h>
#include <wincrypt.h>

#include "net/SslWindowsRoot.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Handles.h"
#include "net/InetLibeay.h"

namespace {

// What the default reader takes from the Windows stores: the DER bytes of every certificate
// (no OpenSSL here: it may run on a thread of its own while OpenSSL is unloaded).
std::vector<std::string> ReadWindowsRootDer() {
    std::vector<std::string> ders;
    // crypt32 is loaded by name, like the other system libraries the client may lack.
    const framework::UniqueHModule cryptLib(LoadLibraryA("crypt32.dll"));
    if (!cryptLib) return ders;
    const HMODULE crypt = cryptLib.get();
    using OpenSystemFn = HCERTSTORE(WINAPI*)(HCRYPTPROV_LEGACY, LPCWSTR);
    using OpenFn = HCERTSTORE(WINAPI*)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*);
    using EnumFn = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, PCCERT_CONTEXT);
    using CloseFn = BOOL(WINAPI*)(HCERTSTORE, DWORD);
    auto openSystem = framework::ProcAs<OpenSystemFn>(GetProcAddress(crypt, "CertOpenSystemStoreW"));
    auto open = framework::ProcAs<OpenFn>(GetProcAddress(crypt, "CertOpenStore"));
    auto next = framework::ProcAs<EnumFn>(GetProcAddress(crypt, "CertEnumCertificatesInStore"));
    auto close = framework::ProcAs<CloseFn>(GetProcAddress(crypt, "CertCloseStore"));
    if (!openSystem || !open || !next || !close) return ders;
    auto addAll = [&](HCERTSTORE from) {
        if (!from) return;
        for (PCCERT_CONTEXT c = next(from, nullptr); c; c = next(from, c))
            if (c->dwCertEncodingType & X509_ASN_ENCODING)
                ders.emplace_back(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded);
        close(from, 0);
    };
    addAll(openSystem(0, L"ROOT"));
    // Windows shows the user's and the machine's Root registry stores inside ROOT; Wine's
    // ROOT holds only the host's certificates, so they are read in their own right too.
    const DWORD flags = CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG;
    addAll(open(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | flags, L"Root"));
    addAll(open(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE | flags, L"Root"));
    return ders;
}

// The certificates of the Windows ROOT stores, read once per process and decoded once per
// loaded OpenSSL: every context that trusts them otherwise opens the stores and decodes each
// certificate again, which costs many times a TLS handshake. The copy is dropped when the
// certificate stores' registry keys change (a certificate added or removed). A requester that
// must not wait for the stores (a window's thread) has them read on a thread of their own.
class TWindowsRootCache {
public:
    // Adds the certificates to Store; how many were added. Waits for a read under way on
    // another thread rather than starting a second one.
    int AddTo(X509_STORE* Store) {
        std::unique_lock<std::mutex> l(lock_);
        DropIfChanged();
        if (!derValid_) {
            if (reading_)
                readDone_.wait(l, [this] { return !reading_; });
            else
                ReadHere(l);
        }
        if (!armed_) Arm();
        if (!decoded_) Decode();
        int added = 0;
        for (X509* x : certs_) {
            if (ossl::X509_STORE_add_cert(Store, x) == 1) ++added;
            else ossl::ERR_clear_error();  // already there
        }
        return added;
    }
    bool ReadyOrWait(HWND Wnd, UINT Msg, WPARAM WParam, const void* Key) {
        std::lock_guard<std::mutex> l(lock_);
        DropIfChanged();
        if (derValid_) return true;
        Forget(Key);
        // Without a thread to be had, the context reads the stores itself.
        if (!reading_ && !StartReading()) return true;
        waiters_.push_back({Wnd, Msg, WParam, Key});
        return false;
    }
    void Cancel(const void* Key) {
        std::lock_guard<std::mutex> l(lock_);
        Forget(Key);
    }
    void SetReader(TWindowsRootReader Reader) {
        std::unique_lock<std::mutex> l(lock_);
        // A read under way belongs to the reader before.
        readDone_.wait(l, [this] { return !reading_; });
        reader_ = std::move(Reader);
        ClearDecoded();
        der_.clear();
        derValid_ = false;
    }
    // Never destroyed: a reading thread may still run while the process ends.
    static TWindowsRootCache& Instance() {
        static TWindowsRootCache* cache = [] {
            // Registered once, outside the cache's lock: the unload calls it under the
            // loader's lock, which must never be taken while the cache's is held.
            InetAtOpenSslUnload(&TWindowsRootCache::DropDecoded);
            return existing_ = new TWindowsRootCache;
        }();
        return *cache;
    }
    // The cache when one was made (nothing is made at the process's end).
    static TWindowsRootCache* Existing() { return existing_; }
    // Waits (a while at most) for a read under way on its own thread.
    void WaitForReading(std::chrono::milliseconds Limit) {
        std::unique_lock<std::mutex> l(lock_);
        readDone_.wait_for(l, Limit, [this] { return !reading_; });
    }
    // The decoded certificates belong to the loaded OpenSSL; the bytes stay.
    static void DropDecoded() {
        TWindowsRootCache& c = Instance();
        std::lock_guard<std::mutex> l(c.lock_);
        c.ClearDecoded();
    }

private:
    struct TWatch {
        HKEY root;
        const char* path;
        framework::UniqueHKey key;
        framework::UniqueKernelHandle event;
    };
    struct TWaiter {
        HWND wnd;
        UINT msg;
        WPARAM wParam;
        const void* key;
    };

    // A reader that fails leaves the copy empty: nothing is trusted through it then. Each
    // certificate is kept once (Wine's machine store holds a copy of all of ROOT).
    // Never throws: a read that ended without ReadDone would leave reading_ set, and every
    // later AddTo waiting for ever.
    static std::vector<std::string> ReadWith(const TWindowsRootReader& Reader) noexcept {
        std::vector<std::string> ders;
        try {
            ders = Reader ? Reader() : ReadWindowsRootDer();
            std::sort(ders.begin(), ders.end());
            ders.erase(std::unique(ders.begin(), ders.end()), ders.end());
        } catch (...) {
            ders.clear();
        }
        return ders;
    }
    void ReadHere(std::unique_lock<std::mutex>& l) {
        reading_ = true;
        const TWindowsRootReader reader = reader_;
        l.unlock();
        std::vector<std::string> ders = ReadWith(reader);
        l.lock();
        ReadDone(std::move(ders));
    }
    bool StartReading() {
        reading_ = true;
        const TWindowsRootReader reader = reader_;
        try {
            std::thread([this, reader] {
                std::vector<std::string> ders = ReadWith(reader);
                // Decoded here too when OpenSSL is loaded (it stays so while held): decoding
                // costs a good part of the read.
                std::vector<X509*> decoded;
                bool held = InetTryAcquireOpenSsl();
                if (held) {
                    try {
                        decoded = DecodeAll(ders);
                    } catch (...) {
                        // Decoded later by the next user instead; the read itself still ends.
                        InetReleaseOpenSsl();
                        held = false;
                    }
                }
                {
                    std::lock_guard<std::mutex> l(lock_);
                    ReadDone(std::move(ders));
                    if (held) {
                        certs_ = std::move(decoded);
                        decoded_ = true;
                    }
                }
                // Outside the lock: the last release drops the decoded copy through it.
                if (held) InetReleaseOpenSsl();
            }).detach();
            return true;
        } catch (...) {
            reading_ = false;
            return false;
        }
    }
    // Under the lock: what was read replaces the copy, and every waiter hears of it.
    void ReadDone(std::vector<std::string> Ders) {
        der_ = std::move(Ders);
        derValid_ = true;
        ClearDecoded();
        // Armed by the next user, after reading: Wine writes the host's certificates into
        // the machine's store each time ROOT is opened, which would make the copy stale at
        // once. A change made by another program while the stores are read is seen at the next.
        armed_ = false;
        reading_ = false;
        for (const TWaiter& w : waiters_) PostMessageA(w.wnd, w.msg, w.wParam, 0);
        waiters_.clear();
        readDone_.notify_all();
    }
    void Forget(const void* Key) {
        waiters_.erase(std::remove_if(waiters_.begin(), waiters_.end(), [Key](const TWaiter& w) { return w.key == Key; }),
                       waiters_.end());
    }
    static std::vector<X509*> DecodeAll(const std::vector<std::string>& Ders) {
        std::vector<X509*> certs;
        for (const std::string& der : Ders) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
            X509* x = ossl::d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            if (!x) {
                ossl::ERR_clear_error();
                continue;
            }
            certs.push_back(x);
        }
        return certs;
    }
    void Decode() {
        ClearDecoded();
        certs_ = DecodeAll(der_);
        decoded_ = true;
    }
    void ClearDecoded() {
        for (X509* x : certs_) ossl::X509_free(x);
        certs_.clear();
        decoded_ = false;
    }
    // A watched key changed since the copy was armed: the copy no longer holds.
    void DropIfChanged() {
        if (!armed_) return;
        for (TWatch& w : watches_) {
            if (w.event && WaitForSingleObject(w.event.get(), 0) == WAIT_TIMEOUT) continue;
            ClearDecoded();
            der_.clear();
            derValid_ = false;
            armed_ = false;
            return;
        }
    }
    // Watches every key; one that cannot be watched makes the copy stale at once.
    void Arm() {
        armed_ = true;
        for (TWatch& w : watches_) {
            w.key.reset();
            // A key that does not exist yet is watched through its nearest parent, where it
            // would appear.
            std::string path = w.path;
            HKEY opened = nullptr;
            while (!path.empty() && RegOpenKeyExA(w.root, path.c_str(), 0, KEY_NOTIFY, &opened) != ERROR_SUCCESS) {
                opened = nullptr;
                const size_t cut = path.find_last_of('\\');
                path = cut == std::string::npos ? std::string() : path.substr(0, cut);
            }
            w.key.reset(opened);
            if (!w.event) w.event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
            if (!w.event) continue;
            ResetEvent(w.event.get());
            if (!w.key) {
                SetEvent(w.event.get());
                continue;
            }
            const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
            // Thread-agnostic where the system knows it: the arming thread may end before
            // the next check (older systems then signal the change, which only costs a reload).
            if (RegNotifyChangeKeyValue(w.key.get(), TRUE, filter | 0x10000000L /* REG_NOTIFY_THREAD_AGNOSTIC */,
                                        w.event.get(), TRUE) != ERROR_SUCCESS &&
                RegNotifyChangeKeyValue(w.key.get(), TRUE, filter, w.event.get(), TRUE) != ERROR_SUCCESS) {
                // Without a watch the copy is never trusted: SetEvent makes it stale at once.
                SetEvent(w.event.get());
            }
        }
    }

    static inline std::atomic<TWindowsRootCache*> existing_{nullptr};
    std::mutex lock_;
    std::condition_variable readDone_;
    TWindowsRootReader reader_;
    std::vector<std::string> der_;
    bool derValid_ = false;  // der_ is what the stores held when last read
    bool reading_ = false;   // a read is under way (on this or another thread)
    bool armed_ = false;     // the watches run since der_ was read
    std::vector<X509*> certs_;
    bool decoded_ = false;
    std::vector<TWaiter> waiters_;
    // Where Windows keeps the certificate stores ROOT is made of (the user's, the machine's,
    // the policies'); Wine keeps the registry stores there too.
    TWatch watches_[3] = {{HKEY_CURRENT_USER, "Software\\Microsoft\\SystemCertificates"},
                          {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\SystemCertificates"},
                          {HKEY_LOCAL_MACHINE, "Software\\Policies\\Microsoft\\SystemCertificates"}};
};

// A process that ends while the stores are read would kill the reading thread inside the
// system's certificate and registry code, holding its locks, and then hang in its own exit.
struct TWindowsRootReadAtExit {
    ~TWindowsRootReadAtExit() {
        if (TWindowsRootCache* cache = TWindowsRootCache::Existing()) cache->WaitForReading(std::chrono::seconds(10));
    }
} WindowsRootReadAtExit;

}  // namespace


int InetAddWindowsRootCerts(X509_STORE* Store) { return TWindowsRootCache::Instance().AddTo(Store); }

bool InetWindowsRootStoreReady(HWND Wnd, UINT Msg, WPARAM WParam, const void* Key) {
    return TWindowsRootCache::Instance().ReadyOrWait(Wnd, Msg, WParam, Key);
}

void InetCancelWindowsRootWait(const void* Key) { TWindowsRootCache::Instance().Cancel(Key); }

void InetSetWindowsRootReader(TWindowsRootReader Reader) {
    TWindowsRootCache::Instance().SetReader(std::move(Reader));
}
