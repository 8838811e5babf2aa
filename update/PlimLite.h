// TPlimLite: asks the maker's web server whether a newer version of the running program
// exists. The program is identified by the product and company names the identification
// library derives from the executable and by its file version; the server answers with one
// version text. Nothing is downloaded: the caller reads UpdateAvailable and ReplyValid in
// the done-callback. GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/Component.h"
#include "framework/Streams.h"

class TKLog;
class TSslHttpClient;
class TSslContext;
enum THttpRequest : uint8_t;

class TPlimLite {
public:
    using TDoneEvent = std::function<void(TPlimLite* Sender)>;

    // Log: not owned; may be null. ProductTitle starts every log line.
    TPlimLite(TKLog* Log, const std::string& ProductTitle);
    ~TPlimLite();
    TPlimLite(const TPlimLite&) = delete;
    TPlimLite& operator=(const TPlimLite&) = delete;

    // Starts a check for the executable ExePath and returns at once; the caller starts none
    // while Busy. OnDone follows every check: from the message loop, or, for a check that
    // could not start (an Error line says why), with Busy already false before CheckUpdate
    // returns. Owner owns the check's client (its freeing stays with this object).
    // The executable is read by its wide path; the ANSI form converts.
    void CheckUpdate(const std::wstring& ExePath, framework::TComponent* Owner, TDoneEvent OnDone);
    void CheckUpdate(const std::string& ExePath, framework::TComponent* Owner, TDoneEvent OnDone);
    // The client's completion: evaluates the reply, clears Busy, calls back.
    void RequestDone(framework::TComponent* Sender, THttpRequest RqType, uint16_t ErrCode);

    // The query part of the check address for a product, company and version text.
    static std::string CheckQuery(const std::string& ProductName, const std::string& CompanyName,
                                  const std::string& VersionText);

    // What a check reports, set by the checker only.
    // A check is running (from CheckUpdate until just before OnDone).
    bool Busy() const { return busy_; }
    // The running program's version as the check sent it: major shl 16 + minor, release
    // shl 16 + build.
    uint32_t CurrentHigh() const { return currentHigh_; }
    uint32_t CurrentLow() const { return currentLow_; }
    // The last reply was a version newer than the running program / a non-zero version.
    bool UpdateAvailable() const { return updateAvailable_; }
    bool ReplyValid() const { return replyValid_; }

    uint32_t StartTick = 0;
    TKLog* Log = nullptr;
    TDoneEvent OnDone;
    std::string ProductTitle;
    std::unique_ptr<framework::TMemoryStream> Stream;
    std::unique_ptr<TSslContext> SslContext;
    std::unique_ptr<TSslHttpClient> Http;
    bool UseProxy = false;
    int32_t ProxyPort = 0;
    std::string ProxyHost;
    std::string ProxyUser;
    std::string ProxyPassword;

private:
    void FreeClient();
    // Busy off, then the callback.
    void Finish();
    void AddLog(const std::string& Text, int32_t Level);

    // A client freed from inside its own completion lives on until the next check.
    std::unique_ptr<TSslContext> retiredContext_;
    std::unique_ptr<TSslHttpClient> retiredHttp_;
    bool inRequestDone_ = false;
    // OpenSSL is kept loaded from the first check on: each check's new context would
    // otherwise load and initialise the DLLs again and drop them with the client.
    bool holdsOpenSsl_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool busy_ = false;
    uint32_t currentHigh_ = 0;
    uint32_t currentLow_ = 0;
    bool updateAvailable_ = false;
    bool replyValid_ = false;
};
