#include "update/HttpCusto.h"

#include "foundation/JoryUtils.h"
#include "foundation/UnicodeUtils.h"
#include "net/HttpClient.h"
#include "net/InetLibeay.h"
#include "net/SslContext.h"

unsigned HttpIdleTimeoutMs = 10000;
unsigned HttpRequestLimitMs = 30000;

bool IsSslAvailable() {
    OpenSslPreferVersion3 = true;
    try {
        // Windows before Vista cannot run the OpenSSL builds we ship.
        if (!IsPreVista()) InetLoadLibCrypto();
    } catch (...) {
        // A failed load leaves the version at 999: TLS is then not available.
    }
    return OpenSslVersionNumber != 0 && OpenSslVersionNumber != 999;
}

std::string GetOpenSslVersionText() {
    std::string text = "Not Available";
    try {
        if (IsSslAvailable()) text = InetOpenSslVersionText();
    } catch (...) {
    }
    return text;
}

std::string DowngradeUrlIfNoSsl(const std::string& Url) {
    if (StrStartsText(Url, "https") && !IsSslAvailable()) return "http" + StrRemovePrefixText(Url, "https");
    return Url;
}

void SetupHttpClient(TSslHttpClient& Client) {
    Client.Agent = "Mozilla/5.0";
    Client.SetRequestVer("1.1");
    Client.Accept = "text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,*/*;q=0.8";
    Client.AcceptLanguage = "fr,fr-fr;q=0.8,en-us;q=0.5,en;q=0.3";
    Client.Timeout = 3;
    Client.ProxyAuth = httpAuthBasic;
    // Without an idle limit a server that accepts and then says nothing keeps the request
    // (and the caller's menu item) busy for ever.
    Client.IdleTimeoutMs = HttpIdleTimeoutMs;
    // Nor may one that trickles a byte now and then: the whole request has a limit too.
    Client.RequestLimitMs = HttpRequestLimitMs;
    // An https address must not end up fetched in clear text through a relocation.
    Client.RefuseHttpsToHttp = true;
    // A reply stream's refusal ends the request (httpErrException); the completion says so.
    Client.SetOnBgException([](framework::TComponent*, const std::exception&, bool& CanClose) { CanClose = true; });
    // The server is trusted only when its certificate chains to the Windows ROOT store and
    // names the host asked for.
    if (TSslContext* ctx = Client.SslContext()) {
        ctx->SslUseWindowsRootStore = true;
        ctx->SetSslVerifyPeer(true);
        ctx->SetSslVerifyPeerModes({SslVerifyMode_PEER});
        ctx->SetSslCheckHostFlags({});
    }
}

int64_t TReplyStream::Write(const void* Buffer, int64_t Count) {
    if (Count > 0 && Position() + Count > MaxSize)
        throw EReplyTooLarge("Reply larger than " + std::to_string(MaxSize) + " bytes");
    return framework::TMemoryStream::Write(Buffer, Count);
}

void ApplyProxy(TSslHttpClient& Client, bool UseProxy, const std::string& Host, int32_t Port, const std::string& User,
                const std::string& Password) {
    Client.Proxy = UseProxy ? Host : std::string();
    Client.ProxyPort = UseProxy ? std::to_string(Port) : std::string();
    Client.ProxyUsername = UseProxy ? User : std::string();
    Client.ProxyPassword = UseProxy ? Password : std::string();
}
