// The common set-up of the program's own HTTP requests (the link-file download and the
// update check): whether TLS can be used, the OpenSSL version text for the start-up log,
// the fall-back of an "https" address to "http" when it cannot, and the client settings both
// users share. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "framework/Exception.h"
#include "framework/Streams.h"

class TSslHttpClient;

// Tries to make OpenSSL available (never on Windows before Vista); true when it is. A failed
// load is tried again on the next call; a loaded library is not loaded twice.
bool IsSslAvailable();
// OpenSSL's version text, or "Not Available".
std::string GetOpenSslVersionText();
// Url with a leading "https" (any case) replaced by "http" when TLS is not available;
// otherwise Url unchanged.
std::string DowngradeUrlIfNoSsl(const std::string& Url);
// The client properties the program's requests share: agent, HTTP/1.1, accept headers, an
// idle time-out so a stalled server ends the request, no relocation from https to http, and
// a TLS context (when the client has one) that verifies the server's certificate and host
// name against the Windows ROOT store. An exception inside the client (an oversized reply)
// ends the request with an error code and is not reported any further.
void SetupHttpClient(TSslHttpClient& Client);
// Sends the client's requests through the given proxy, or direct when UseProxy is false
// (the proxy settings are then cleared).
void ApplyProxy(TSslHttpClient& Client, bool UseProxy, const std::string& Host, int32_t Port, const std::string& User,
                const std::string& Password);

// Milliseconds of silence after which one of the program's requests gives up (10 s; the
// tests shorten it to see a stalled server end a request).
extern unsigned HttpIdleTimeoutMs;
// The overall limit of each request of the program (downloader, checker), in ms.
extern unsigned HttpRequestLimitMs;

// The body store of the program's requests. Their answers are a few bytes (a version, a
// short ini file): a server that sends more than MaxSize gets its request ended with an
// error instead of filling the memory.
class EReplyTooLarge : public framework::Exception {
    using framework::Exception::Exception;
};
class TReplyStream : public framework::TMemoryStream {
public:
    static constexpr int64_t MaxSize = 1024 * 1024;
    // Raises EReplyTooLarge past MaxSize; the client then ends the request.
    int64_t Write(const void* Buffer, int64_t Count) override;
};
