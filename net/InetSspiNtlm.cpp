#include "net/InetSspiNtlm.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "framework/Handles.h"
#include "net/InetUtils.h"

namespace {

// The security library, let go through the loader that was asked for it.
struct SspiModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { SspiLoader().FreeLibrary(h); }
};
using SspiModule = framework::UniqueResource<SspiModuleTraits>;

// Process-wide: the library, its function table and the NTLM package's largest token. The
// library goes with the process's last static objects.
struct SspiLibrary {
    TInetCriticalSection Lock;
    SspiModule Module;
    PSecurityFunctionTableA Table = nullptr;
    ULONG MaxToken = 0;
};

SspiLibrary& Library() {
    static SspiLibrary lib;
    return lib;
}

char kNtlmPackage[] = "NTLM";

// Returns the function table, loading the library when no session has done so yet.
PSecurityFunctionTableA Load() {
    SspiLibrary& lib = Library();
    TInetLock lock(lib.Lock);
    if (lib.Module && lib.Table) return lib.Table;
    const TSspiLoader& api = SspiLoader();
    // Held until the package answers: any failure lets it go.
    SspiModule module(api.LoadLibraryA("security.dll"));
    if (!module) module.reset(api.LoadLibraryA("secur32.dll"));
    auto init = module ? framework::ProcAs<INIT_SECURITY_INTERFACE_A>(api.GetProcAddress(module.get(), "InitSecurityInterfaceA"))
                       : nullptr;
    PSecurityFunctionTableA table = init ? init() : nullptr;
    if (!table || !table->QuerySecurityPackageInfoA) throw ENtlmAuthException("Couldn't init security package");
    PSecPkgInfoA info = nullptr;
    SECURITY_STATUS status = table->QuerySecurityPackageInfoA(kNtlmPackage, &info);
    if (status != SEC_E_OK || !info) {
        char text[80];
        std::snprintf(text, sizeof text, "Couldn't find package info for NTLM, error 0x%lx",
                      static_cast<unsigned long>(status));
        throw ENtlmAuthException(text);
    }
    lib.MaxToken = info->cbMaxToken;
    if (table->FreeContextBuffer) table->FreeContextBuffer(info);
    lib.Module = std::move(module);
    lib.Table = table;
    return table;
}

ULONG MaxToken() {
    SspiLibrary& lib = Library();
    TInetLock lock(lib.Lock);
    return lib.MaxToken;
}

}  // namespace

TSspiLoader& SspiLoader() {
    static TSspiLoader loader{::LoadLibraryA, ::GetProcAddress, ::FreeLibrary};
    return loader;
}

void NtlmAuthUnload() {
    SspiLibrary& lib = Library();
    TInetLock lock(lib.Lock);
    lib.Module.reset();
    lib.Table = nullptr;
    lib.MaxToken = 0;
}

TNtlmAuthSession::TNtlmAuthSession(int32_t Value) : table_(Load()), value_(Value) { Reset(); }

TNtlmAuthSession::~TNtlmAuthSession() { Reset(); }

void TNtlmAuthSession::Reset() {
    if (hasCtx_ && table_->DeleteSecurityContext) table_->DeleteSecurityContext(&ctx_);
    if (hasCred_ && table_->FreeCredentialHandle) table_->FreeCredentialHandle(&cred_);
    hasCtx_ = hasCred_ = false;
    ctx_ = {};
    cred_ = {};
    Challenge.clear();
    lastStatus_ = 0;
    state_ = NtlmSessionNew;
}

std::string TNtlmAuthSession::NextToken() {
    try {
        switch (state_) {
        case NtlmSessionNew:
            return Negotiate();
        case NtlmSessionNegotiate:
            return Authenticate();
        default:
            return {};
        }
    } catch (...) {
        state_ = NtlmSessionFailed;
        return {};
    }
}

std::string TNtlmAuthSession::Negotiate() {
    Reset();
    if (!table_->AcquireCredentialsHandleA || !table_->InitializeSecurityContextA) {
        state_ = NtlmSessionFailed;
        return {};
    }
    TimeStamp expiry{};
    SECURITY_STATUS status = table_->AcquireCredentialsHandleA(nullptr, kNtlmPackage, SECPKG_CRED_OUTBOUND, nullptr,
                                                               nullptr, nullptr, nullptr, &cred_, &expiry);
    if (status < 0) {
        lastStatus_ = status;
        state_ = NtlmSessionFailed;
        return {};
    }
    hasCred_ = true;

    std::vector<char> token(MaxToken());
    SecBuffer out{ULONG(token.size()), SECBUFFER_TOKEN, token.data()};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    status = table_->InitializeSecurityContextA(&cred_, nullptr, nullptr, 0, 0, SECURITY_NATIVE_DREP, nullptr, 0,
                                                &ctx_, &outDesc, &attributes, &expiry);
    if (status < 0) {
        lastStatus_ = status;
        state_ = NtlmSessionFailed;
        return {};
    }
    hasCtx_ = true;
    state_ = NtlmSessionNegotiate;
    return InetBase64Encode(token.data(), out.cbBuffer <= token.size() ? out.cbBuffer : 0);
}

std::string TNtlmAuthSession::Authenticate() {
    std::string challenge = Challenge;
    SecBuffer in{ULONG(challenge.size()), SECBUFFER_TOKEN, challenge.empty() ? nullptr : &challenge[0]};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &in};
    std::vector<char> token(MaxToken());
    SecBuffer out{ULONG(token.size()), SECBUFFER_TOKEN, token.data()};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    TimeStamp expiry{};
    SECURITY_STATUS status = table_->InitializeSecurityContextA(&cred_, &ctx_, nullptr, 0, 0, SECURITY_NATIVE_DREP,
                                                                &inDesc, 0, &ctx_, &outDesc, &attributes, &expiry);
    if ((status == SEC_I_COMPLETE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE) && table_->CompleteAuthToken)
        status = table_->CompleteAuthToken(&ctx_, &outDesc);
    if (status < 0) {
        lastStatus_ = status;
        state_ = NtlmSessionFailed;
        return {};
    }
    state_ = NtlmSessionAuthenticate;
    return InetBase64Encode(token.data(), out.cbBuffer <= token.size() ? out.cbBuffer : 0);
}
