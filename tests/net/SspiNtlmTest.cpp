// The SSPI NTLM session: the token exchange through a canned security function table (Wine
// has no NTLM package without Samba's ntlm_auth), the library's load and its failures, and
// the real system's answer, whatever it is, ending cleanly.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/InetSspiNtlm.h"
#include "net/InetUtils.h"

namespace {

// Handle values that need every bit of a pointer: a truncated handle no longer matches.
constexpr ULONG_PTR kCredLower = ULONG_PTR(0xC1C2C3C4C5C6C7C8ull), kCredUpper = ULONG_PTR(0xD1D2D3D4D5D6D7D8ull);
constexpr ULONG_PTR kCtxLower = ULONG_PTR(0xE1E2E3E4E5E6E7E8ull), kCtxUpper = ULONG_PTR(0xF1F2F3F4F5F6F7F8ull);

const std::string kType1("NTLMSSP\0\1\0\0\0\x07\x82\x08\0", 16);
const std::string kType3("NTLMSSP\0\3\0\0\0 canned answer", 25);
const std::string kChallenge("NTLMSSP\0\2\0\0\0 server challenge \xFF\0", 32);

// The canned security library.
struct Fake {
    bool securityDllPresent = true;
    bool secur32Present = true;
    bool initExported = true;
    SECURITY_STATUS queryStatus = SEC_E_OK;
    SECURITY_STATUS acquireStatus = SEC_E_OK;
    SECURITY_STATUS firstStatus = SEC_I_CONTINUE_NEEDED;
    SECURITY_STATUS secondStatus = SEC_E_OK;
    SECURITY_STATUS completeStatus = SEC_E_OK;

    std::vector<std::string> loaded;
    std::vector<HMODULE> freed;
    int packageInfoFreed = 0;
    int completeCalls = 0;
    int initializeCalls = 0;
    std::string secondInput;
    bool handlesIntact = true;
    int contextsDeleted = 0;
    int credentialsFreed = 0;

    SecPkgInfoA packageInfo{};
    SecurityFunctionTableA table{};
};
Fake* gFake = nullptr;

const HMODULE kSecurityDll = reinterpret_cast<HMODULE>(ULONG_PTR(0x7FF012340000ull));
const HMODULE kSecur32Dll = reinterpret_cast<HMODULE>(ULONG_PTR(0x7FF056780000ull));

HMODULE WINAPI FakeLoad(LPCSTR name) {
    gFake->loaded.push_back(name);
    if (!std::strcmp(name, "security.dll")) return gFake->securityDllPresent ? kSecurityDll : nullptr;
    if (!std::strcmp(name, "secur32.dll")) return gFake->secur32Present ? kSecur32Dll : nullptr;
    return nullptr;
}
BOOL WINAPI FakeFree(HMODULE m) {
    gFake->freed.push_back(m);
    return TRUE;
}
PSecurityFunctionTableA WINAPI FakeInit() { return &gFake->table; }
FARPROC WINAPI FakeGetProc(HMODULE, LPCSTR name) {
    if (gFake->initExported && !std::strcmp(name, "InitSecurityInterfaceA"))
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeInit));
    return nullptr;
}

SECURITY_STATUS WINAPI FakeQuery(SEC_CHAR* name, PSecPkgInfoA* info) {
    if (std::strcmp(name, "NTLM") || gFake->queryStatus != SEC_E_OK) return gFake->queryStatus;
    gFake->packageInfo.cbMaxToken = 2888;
    *info = &gFake->packageInfo;
    return SEC_E_OK;
}
SECURITY_STATUS WINAPI FakeFreeBuffer(void* p) {
    if (p == &gFake->packageInfo) ++gFake->packageInfoFreed;
    return SEC_E_OK;
}
SECURITY_STATUS WINAPI FakeAcquire(SEC_CHAR* principal, SEC_CHAR* package, ULONG use, void*, void*, SEC_GET_KEY_FN,
                                   void*, PCredHandle cred, PTimeStamp) {
    if (principal || std::strcmp(package, "NTLM") || use != SECPKG_CRED_OUTBOUND) return SEC_E_INTERNAL_ERROR;
    if (gFake->acquireStatus < 0) return gFake->acquireStatus;
    cred->dwLower = kCredLower;
    cred->dwUpper = kCredUpper;
    return gFake->acquireStatus;
}
void PutToken(PSecBufferDesc out, const std::string& token) {
    SecBuffer& b = out->pBuffers[0];
    if (b.BufferType != SECBUFFER_TOKEN || b.cbBuffer < token.size()) {
        gFake->handlesIntact = false;
        return;
    }
    std::memcpy(b.pvBuffer, token.data(), token.size());
    b.cbBuffer = ULONG(token.size());
}
SECURITY_STATUS WINAPI FakeInitialize(PCredHandle cred, PCtxtHandle ctx, SEC_CHAR*, ULONG, ULONG, ULONG,
                                      PSecBufferDesc in, ULONG, PCtxtHandle newCtx, PSecBufferDesc out, ULONG*,
                                      PTimeStamp) {
    ++gFake->initializeCalls;
    if (cred->dwLower != kCredLower || cred->dwUpper != kCredUpper) gFake->handlesIntact = false;
    if (!ctx) {
        if (gFake->firstStatus < 0) return gFake->firstStatus;
        newCtx->dwLower = kCtxLower;
        newCtx->dwUpper = kCtxUpper;
        PutToken(out, kType1);
        return gFake->firstStatus;
    }
    if (ctx->dwLower != kCtxLower || ctx->dwUpper != kCtxUpper) gFake->handlesIntact = false;
    gFake->secondInput.assign(static_cast<const char*>(in->pBuffers[0].pvBuffer), in->pBuffers[0].cbBuffer);
    if (gFake->secondStatus < 0) return gFake->secondStatus;
    PutToken(out, kType3);
    return gFake->secondStatus;
}
SECURITY_STATUS WINAPI FakeComplete(PCtxtHandle ctx, PSecBufferDesc) {
    ++gFake->completeCalls;
    if (ctx->dwLower != kCtxLower || ctx->dwUpper != kCtxUpper) gFake->handlesIntact = false;
    return gFake->completeStatus;
}
SECURITY_STATUS WINAPI FakeDelete(PCtxtHandle ctx) {
    if (ctx->dwLower != kCtxLower || ctx->dwUpper != kCtxUpper) gFake->handlesIntact = false;
    ++gFake->contextsDeleted;
    return SEC_E_OK;
}
SECURITY_STATUS WINAPI FakeFreeCred(PCredHandle cred) {
    if (cred->dwLower != kCredLower || cred->dwUpper != kCredUpper) gFake->handlesIntact = false;
    ++gFake->credentialsFreed;
    return SEC_E_OK;
}

class SspiSession : public ::testing::Test {
protected:
    void SetUp() override {
        NtlmAuthUnload();
        saved_ = SspiLoader();
        fake_ = std::make_unique<Fake>();
        gFake = fake_.get();
        SecurityFunctionTableA& t = fake_->table;
        t.QuerySecurityPackageInfoA = FakeQuery;
        t.FreeContextBuffer = FakeFreeBuffer;
        t.AcquireCredentialsHandleA = FakeAcquire;
        t.InitializeSecurityContextA = FakeInitialize;
        t.CompleteAuthToken = FakeComplete;
        t.DeleteSecurityContext = FakeDelete;
        t.FreeCredentialHandle = FakeFreeCred;
        SspiLoader() = TSspiLoader{FakeLoad, FakeGetProc, FakeFree};
    }
    void TearDown() override {
        NtlmAuthUnload();
        SspiLoader() = saved_;
        gFake = nullptr;
    }
    TSspiLoader saved_{};
    std::unique_ptr<Fake> fake_;
};

}  // namespace

TEST_F(SspiSession, NegotiateThenAuthenticateThenNothing) {
    {
        TNtlmAuthSession session(2);
        EXPECT_EQ(session.Value(), 2);
        EXPECT_EQ(session.State(), NtlmSessionNew);
        EXPECT_EQ(InetBase64Decode(session.NextToken()), kType1);
        EXPECT_EQ(session.State(), NtlmSessionNegotiate);
        session.Challenge = kChallenge;
        EXPECT_EQ(InetBase64Decode(session.NextToken()), kType3);
        EXPECT_EQ(fake_->secondInput, kChallenge);
        EXPECT_EQ(session.State(), NtlmSessionAuthenticate);
        EXPECT_EQ(session.NextToken(), "");
        EXPECT_EQ(fake_->initializeCalls, 2);
        EXPECT_EQ(fake_->completeCalls, 0);
    }
    // The pointer-sized handles reached every call whole and were freed on destruction.
    EXPECT_TRUE(fake_->handlesIntact);
    EXPECT_EQ(fake_->contextsDeleted, 1);
    EXPECT_EQ(fake_->credentialsFreed, 1);
}

TEST_F(SspiSession, CompleteNeededCallsCompleteAuthToken) {
    for (SECURITY_STATUS s : {SEC_I_COMPLETE_NEEDED, SEC_I_COMPLETE_AND_CONTINUE}) {
        fake_->secondStatus = s;
        fake_->completeCalls = 0;
        TNtlmAuthSession session(2);
        session.NextToken();
        session.Challenge = kChallenge;
        EXPECT_EQ(InetBase64Decode(session.NextToken()), kType3);
        EXPECT_EQ(fake_->completeCalls, 1);
        EXPECT_EQ(session.State(), NtlmSessionAuthenticate);
    }
    // A failing completion fails the token.
    fake_->completeStatus = SEC_E_INTERNAL_ERROR;
    TNtlmAuthSession session(2);
    session.NextToken();
    EXPECT_EQ(session.NextToken(), "");
    EXPECT_EQ(session.State(), NtlmSessionFailed);
    EXPECT_EQ(session.LastStatus(), SEC_E_INTERNAL_ERROR);
}

TEST_F(SspiSession, FailingCallsGiveEmptyTokensAndKeepTheStatus) {
    struct Case {
        const char* what;
        SECURITY_STATUS acquire, first, second;
        int failingToken;  // 1 or 2
        SECURITY_STATUS expected;
    } cases[] = {
        {"no credentials", SEC_E_NO_CREDENTIALS, SEC_I_CONTINUE_NEEDED, SEC_E_OK, 1, SEC_E_NO_CREDENTIALS},
        {"negotiate refused", SEC_E_OK, SEC_E_INTERNAL_ERROR, SEC_E_OK, 1, SEC_E_INTERNAL_ERROR},
        {"challenge refused", SEC_E_OK, SEC_I_CONTINUE_NEEDED, SEC_E_LOGON_DENIED, 2, SEC_E_LOGON_DENIED},
    };
    for (const auto& c : cases) {
        fake_->acquireStatus = c.acquire;
        fake_->firstStatus = c.first;
        fake_->secondStatus = c.second;
        TNtlmAuthSession session(2);
        std::string first = session.NextToken();
        session.Challenge = kChallenge;
        std::string second = session.NextToken();
        if (c.failingToken == 1) {
            EXPECT_EQ(first, "") << c.what;
        } else {
            EXPECT_EQ(InetBase64Decode(first), kType1) << c.what;
        }
        EXPECT_EQ(second, "") << c.what;
        EXPECT_EQ(session.State(), NtlmSessionFailed) << c.what;
        EXPECT_EQ(session.LastStatus(), c.expected) << c.what;
        // A failed session starts again only after Reset.
        EXPECT_EQ(session.NextToken(), "") << c.what;
        session.Reset();
        EXPECT_EQ(session.State(), NtlmSessionNew);
        EXPECT_EQ(session.LastStatus(), 0);
    }
    EXPECT_TRUE(fake_->handlesIntact);
}

TEST_F(SspiSession, SessionsShareOneLoadUntilUnload) {
    {
        TNtlmAuthSession a(2), b(2);
        EXPECT_EQ(a.NextToken(), b.NextToken());
    }
    TNtlmAuthSession c(2);
    EXPECT_EQ(fake_->loaded, std::vector<std::string>{"security.dll"});
    EXPECT_TRUE(fake_->freed.empty());
    EXPECT_EQ(fake_->packageInfoFreed, 1);
    NtlmAuthUnload();
    EXPECT_EQ(fake_->freed, std::vector<HMODULE>{kSecurityDll});
}

TEST_F(SspiSession, Secur32WhenSecurityDllIsMissing) {
    fake_->securityDllPresent = false;
    TNtlmAuthSession session(2);
    EXPECT_EQ(fake_->loaded, (std::vector<std::string>{"security.dll", "secur32.dll"}));
    NtlmAuthUnload();
    EXPECT_EQ(fake_->freed, std::vector<HMODULE>{kSecur32Dll});
}

TEST_F(SspiSession, LoadFailuresRaiseAndFreeTheLibrary) {
    fake_->initExported = false;
    try {
        TNtlmAuthSession session(2);
        ADD_FAILURE() << "no exception";
    } catch (const ENtlmAuthException& e) {
        EXPECT_STREQ(e.what(), "Couldn't init security package");
    }
    EXPECT_EQ(fake_->freed, std::vector<HMODULE>{kSecurityDll});

    fake_->initExported = true;
    fake_->queryStatus = SEC_E_SECPKG_NOT_FOUND;
    try {
        TNtlmAuthSession session(2);
        ADD_FAILURE() << "no exception";
    } catch (const ENtlmAuthException& e) {
        EXPECT_STREQ(e.what(), "Couldn't find package info for NTLM, error 0x80090305");
    }
    EXPECT_EQ(fake_->freed.size(), 2u);

    fake_->securityDllPresent = fake_->secur32Present = false;
    EXPECT_THROW(TNtlmAuthSession(2), ENtlmAuthException);
    EXPECT_EQ(fake_->freed.size(), 2u);

    // After failures, a working library still loads.
    fake_->securityDllPresent = true;
    fake_->queryStatus = SEC_E_OK;
    TNtlmAuthSession session(2);
    EXPECT_EQ(InetBase64Decode(session.NextToken()), kType1);
}

// The system's own package: where it works (Windows, or Wine with winbind) the first token
// is an NTLM negotiate message; where it does not, creation raises our exception or the
// token is empty with a failure status. Nothing else may happen.
TEST(SspiSystem, RealPackageSucceedsOrFailsCleanly) {
    NtlmAuthUnload();
    try {
        TNtlmAuthSession session(2);
        const std::string token = session.NextToken();
        if (token.empty()) {
            EXPECT_EQ(session.State(), NtlmSessionFailed);
            EXPECT_LT(session.LastStatus(), 0);
        } else {
            const std::string m = InetBase64Decode(token);
            ASSERT_GE(m.size(), 12u);
            EXPECT_EQ(m.substr(0, 12), std::string("NTLMSSP\0\1\0\0\0", 12));
            EXPECT_EQ(session.State(), NtlmSessionNegotiate);
        }
        std::printf("system NTLM package: %s\n", token.empty() ? "token refused" : "negotiate token");
    } catch (const ENtlmAuthException& e) {
        std::printf("system NTLM package: %s\n", e.what());
        EXPECT_EQ(std::string(e.what()).rfind("Couldn't ", 0), 0u) << e.what();
    }
    NtlmAuthUnload();
}
