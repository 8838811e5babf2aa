// NTLM tokens for the logged-on Windows user through the Security Support Provider
// Interface, so that a proxy can be answered without a stored password. The security
// library ("security.dll", else "secur32.dll") is loaded on the first session and kept for
// the process; the first token is the negotiate (type 1) message, the second, after the
// server's challenge, the authenticate (type 3) message, both as Base64 text.
//
// Where the system has no working NTLM package (Wine without Samba's ntlm_auth), creating a
// session raises ENtlmAuthException; a caller that merely might need a session creates it
// only when an exchange asks for one.
#pragma once

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>

#include <cstdint>
#include <string>

#include "framework/Exception.h"

class ENtlmAuthException : public framework::Exception {
public:
    using framework::Exception::Exception;
};

// How the security library is reached: the system's loader by default. A plain struct so
// that the token exchange can be driven through a canned function table where the system
// has no NTLM package.
struct TSspiLoader {
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* FreeLibrary)(HMODULE);
};
TSspiLoader& SspiLoader();

// Session states.
constexpr uint8_t NtlmSessionNew = 0;
constexpr uint8_t NtlmSessionNegotiate = 1;     // negotiate token produced
constexpr uint8_t NtlmSessionAuthenticate = 2;  // authenticate token produced
constexpr uint8_t NtlmSessionFailed = 3;

class TNtlmAuthSession {
public:
    // Loads the library when no session has yet (raises ENtlmAuthException "Couldn't init
    // security package" or "Couldn't find package info for NTLM, error 0x..."). Value is
    // kept with the session for its creator.
    explicit TNtlmAuthSession(int32_t Value);
    ~TNtlmAuthSession();
    TNtlmAuthSession(const TNtlmAuthSession&) = delete;
    TNtlmAuthSession& operator=(const TNtlmAuthSession&) = delete;

    // Frees the context and the credentials and starts again from state 0.
    void Reset();
    // The next token in Base64: the negotiate message in state 0, the authenticate message
    // (answering Challenge) in state 1, else empty. A failing call leaves state 3, the
    // call's result in LastStatus and an empty token.
    std::string NextToken();

    // The server's decoded challenge (the bytes after "NTLM " in its header), set before
    // the second token is asked for.
    std::string Challenge;

    uint8_t State() const { return state_; }
    SECURITY_STATUS LastStatus() const { return lastStatus_; }
    int32_t Value() const { return value_; }

private:
    std::string Negotiate();
    std::string Authenticate();

    PSecurityFunctionTableA table_ = nullptr;
    CredHandle cred_{};  // pointer-sized pairs, as the system defines them
    CtxtHandle ctx_{};
    bool hasCred_ = false;
    bool hasCtx_ = false;
    uint8_t state_ = NtlmSessionNew;
    SECURITY_STATUS lastStatus_ = 0;
    int32_t value_ = 0;
};

// Frees the security library (it is otherwise kept until the process ends). Only when no
// session is alive.
void NtlmAuthUnload();
