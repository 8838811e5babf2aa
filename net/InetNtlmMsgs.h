// NTLM negotiate (type 1), challenge (type 2) and authenticate (type 3) messages, as the
// Base64 text of an "Authorization: NTLM " or "Proxy-Authorization: NTLM " header. Layouts,
// flags and responses are those of Microsoft's published NTLM protocol: LM and NT responses,
// the NTLM2 session response and NTLMv2 with LMv2. Plain functions; nothing here keeps state
// except the clock below.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The decoded challenge.
struct TNTLM_Msg2_Info {
    bool Valid = false;    // the message was decoded
    bool Unicode = false;  // the server set NEGOTIATE_UNICODE
    std::wstring TargetName;
    std::wstring NetbiosDomain;    // target-info pair 2
    std::wstring NetbiosComputer;  // target-info pair 1
    uint8_t Challenge[8] = {};     // server challenge
    uint32_t Flags = 0;            // negotiate flags of the challenge
    std::string TargetInfo;        // the raw target-info block
};

// Negotiate flags.
constexpr uint32_t NTLM_NEGOTIATE_UNICODE = 0x00000001;
constexpr uint32_t NTLM_NEGOTIATE_OEM = 0x00000002;
constexpr uint32_t NTLM_REQUEST_TARGET = 0x00000004;
constexpr uint32_t NTLM_NEGOTIATE_NTLM = 0x00000200;
constexpr uint32_t NTLM_NEGOTIATE_DOMAIN_SUPPLIED = 0x00001000;
constexpr uint32_t NTLM_NEGOTIATE_WORKSTATION_SUPPLIED = 0x00002000;
constexpr uint32_t NTLM_NEGOTIATE_ALWAYS_SIGN = 0x00008000;
constexpr uint32_t NTLM_NEGOTIATE_EXTENDED_SESSIONSECURITY = 0x00080000;

// NTLM levels: 0 LM and NT responses; 1 the NTLM2 session response when the server offers
// extended session security, else LM and NT; 2 the same but the LM field repeats the NT
// response; 3 and above NTLMv2 and LMv2.
constexpr uint32_t NtlmLevelLmNt = 0;
constexpr uint32_t NtlmLevelSession = 1;
constexpr uint32_t NtlmLevelSessionNtOnly = 2;
constexpr uint32_t NtlmLevelV2 = 3;

// Where the type-3 message takes its time stamp and client nonces from: the system clock
// and the client's random generator. A plain struct so that a check of the responses can
// fix both.
struct TNtlmClock {
    uint64_t (*FileTimeNow)();       // the current time as a 64-bit FILETIME (UTC)
    uint32_t (*Random)(uint32_t N);  // 0 .. N-1
};
TNtlmClock& NtlmClock();

// Domain := the text before the first backslash, User := the rest; without a backslash the
// domain is empty and the user is the whole text.
void NtlmSplitUserDomain(const std::string& Text, std::string& Domain, std::string& User);

// Base64 type-1 message; Workstation and Domain are sent in upper case.
std::string NtlmBuildNegotiateMessage(const std::string& Workstation, const std::string& Domain, uint32_t Level);

// Decodes a Base64 type-2 message. Every field is checked against the message before it is
// read; a message that is not a challenge, is shorter than 48 bytes or holds a field outside
// itself gives Valid false.
TNTLM_Msg2_Info NtlmParseChallengeMessage(const std::string& Base64Text);

// Base64 type-3 message answering Challenge. CodePage is the ANSI code page of the texts for
// their conversion to UTF-16 (0: the system's). Empty when a field would not fit the
// message's 16-bit lengths.
std::string NtlmBuildAuthenticateMessage(const std::string& Domain, const std::string& Host, const std::string& User,
                                         const std::string& Password, const TNTLM_Msg2_Info& Challenge,
                                         UINT CodePage, uint32_t Level);

// Support routines.
uint64_t NtlmFileTimeNow();
// ANSI text in CodePage (0: the system's) as UTF-16LE bytes.
std::string NtlmUnicodeBytes(const std::string& Text, UINT CodePage);
// ANSI text in CodePage (0: the system's) in the OEM code page.
std::string NtlmAnsiToOem(const std::string& Text, UINT CodePage);
