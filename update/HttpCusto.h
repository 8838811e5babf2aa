// The common set-up of the program's own HTTP requests (the link-file download and the
// update check): whether TLS can be used, the OpenSSL version text for the start-up log,
// the fall-back of an "https" address to "http" when it cannot, and the client settings both
// users share. GUI thread only.
#pragma once

#include <string>

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
// name against the Windows ROOT store.
void SetupHttpClient(TSslHttpClient& Client);

// Milliseconds of silence after which one of the program's requests gives up (10 s; the
// tests shorten it to see a stalled server end a request).
extern unsigned HttpIdleTimeoutMs;
