#include "update/PlimLite.h"

#include <windows.h>

#include <exception>

#include "foundation/Log.h"
#include "foundation/UnicodeUtils.h"
#include "foundation/Version.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "net/HttpClient.h"
#include "net/InetLibeay.h"
#include "net/SslContext.h"
#include "update/CheckIdentity.h"
#include "update/HttpCusto.h"
#include "update/MakerServer.h"

TPlimLite::TPlimLite(TKLog* Log, const std::string& ProductTitle) : Log(Log), ProductTitle(ProductTitle) {
    Stream = std::make_unique<TReplyStream>();
}

TPlimLite::~TPlimLite() {
    *alive_ = false;
    OnDone = nullptr;
    if (Http) Http->OnRequestDone = nullptr;
    SslContext.reset();
    Http.reset();
    retiredContext_.reset();
    retiredHttp_.reset();
    Stream.reset();
    if (holdsOpenSsl_) InetReleaseOpenSsl();
}

std::string TPlimLite::CheckQuery(const std::string& ProductName, const std::string& CompanyName,
                                  const std::string& VersionText) {
    const TPlimVersion version(VersionText);
    return "uid=0&ProductName=" + UrlEncode(ProductName) + "&Company=" + UrlEncode(CompanyName) +
           "&VH=" + version.HighPartText() + "&VL=" + version.LowPartText();
}

void TPlimLite::FreeClient() {
    if (Http) Http->OnRequestDone = nullptr;
    if (inRequestDone_) {
        // The client is the one calling us: it goes when we are back in the message loop.
        retiredContext_ = std::move(SslContext);
        retiredHttp_ = std::move(Http);
        return;
    }
    SslContext.reset();
    Http.reset();
    retiredContext_.reset();
    retiredHttp_.reset();
}

void TPlimLite::CheckUpdate(const std::string& ExePath, framework::TComponent* Owner, TDoneEvent OnDone) {
    CheckUpdate(framework::AnsiToWide(ExePath), Owner, std::move(OnDone));
}

void TPlimLite::CheckUpdate(const std::wstring& ExePath, framework::TComponent* Owner, TDoneEvent OnDone) {
    // The client of the check before goes once the new one is made: the last client of a
    // thread takes the thread's socket window with it, and making that again costs about as
    // much as the request itself.
    if (Http) Http->OnRequestDone = nullptr;
    bool replaced = false;
    busy_ = true;
    updateAvailable_ = false;
    replyValid_ = false;
    AddLog(" Update self check : Initialization", 1);
    this->OnDone = std::move(OnDone);
    try {
        // The running program's file is identified once per process, not at every check.
        const TCheckIdentity identity = GetCheckIdentity(ExePath);
        const TPlimVersion version(identity.VersionText);
        currentHigh_ = version.HighPart();
        currentLow_ = version.LowPart();
        const std::string address = MakerServerUrl(kUpdateCheckPath) + "?" +
                                    CheckQuery(identity.ProductName, identity.CompanyName, identity.VersionText);
        Stream->Clear();

        auto done = [this](framework::TComponent* Sender, THttpRequest RqType, uint16_t ErrCode) {
            RequestDone(Sender, RqType, ErrCode);
        };
        auto http = std::make_unique<TSslHttpClient>(Owner);
        auto context = std::make_unique<TSslContext>(nullptr);
        FreeClient();
        replaced = true;
        Http = std::move(http);
        SslContext = std::move(context);
        Http->SetSslContext(SslContext.get());
        SetupHttpClient(*Http);
        Http->Timeout = 10;
        Http->OnRequestDone = done;
        ApplyProxy(*Http, UseProxy, ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
        Http->URL = DowngradeUrlIfNoSsl(address);
        if (!holdsOpenSsl_ && IsSslAvailable()) {
            try {
                InetAcquireOpenSsl();
                holdsOpenSsl_ = true;
            } catch (...) {
                // The request reports what keeps OpenSSL from loading.
            }
        }
        if (!framework::SameText(Http->URL, address)) {
            if (Log) Log->Add("PlimLite : No SSL / Back to HTTP", 0);
        }
        Http->ReceiveStream = Stream.get();
        Http->OnRequestDone = done;
        StartTick = GetTickCount();
        Http->StartGet();
    } catch (const std::exception& E) {
        if (!replaced) FreeClient();
        // No completion follows a check that did not start: end it here, or Busy (and the
        // caller's disabled menu item) would stay for the rest of the run.
        AddLog(std::string(" Update self check : Cannot start (") + E.what() + ")", 2);
        Finish();
    }
}

void TPlimLite::RequestDone(framework::TComponent* Sender, THttpRequest RqType, uint16_t ErrCode) {
    inRequestDone_ = true;
    try {
        if (ErrCode != 0 || RqType != httpGET) {
            AddLog(" Update self check : Server error (" + std::to_string(ErrCode) + ")", 2);
        } else {
            // The body of an error page is not the service's answer, whatever it holds.
            const int32_t status = Http->StatusCode();
            const bool statusOk = status >= 200 && status <= 299;
            const TPlimVersion version(statusOk ? Stream->Bytes() : std::string());
            AddLog(" Update self check : Server replied " + version.AsText() + " in " +
                       std::to_string(GetTickCount() - StartTick) + "ms",
                   1);
            if (!version.IsValid())
                AddLog(" Update self check : Server error (" + std::to_string(statusOk ? ErrCode : status) +
                           " Cause : " + Http->ReasonPhrase() + ")",
                       0);
            replyValid_ = version.IsValid();
            updateAvailable_ = version.IsNewerThanParts(currentHigh_, currentLow_);
        }
    } catch (const std::exception& E) {
        AddLog(std::string(" Update self check : ") + E.what(), 2);
    }
    // The callback may free this checker (the program closing): touch nothing after it then.
    const std::shared_ptr<bool> alive = alive_;
    Finish();
    if (*alive) inRequestDone_ = false;
}

void TPlimLite::Finish() {
    busy_ = false;
    if (!OnDone) return;
    try {
        auto handler = OnDone;
        handler(this);
    } catch (const std::exception& E) {
        // Called from the message loop: nothing may leave it.
        AddLog(std::string(" Update self check : ") + E.what(), 2);
    }
}

void TPlimLite::AddLog(const std::string& Text, int32_t Level) {
    if (Log) Log->Add(ProductTitle + Text, Level);
}
