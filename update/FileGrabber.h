// TFileGrabber: fetches one small file over HTTP(S) into memory and, when the server answered
// it with a 2xx status, saves it. The main window fetches the link file with it once per run.
// The saved file is replaced only as a whole: written beside it under a temporary name, then
// renamed over it, so an error page, a failed or a cut-off download keeps the good copy.
// GUI thread only: the client's events arrive through the thread's message loop.
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

class TFileGrabber {
public:
    using TDoneEvent = std::function<void(TFileGrabber* Sender)>;

    // Log: not owned; may be null (nothing is logged then).
    explicit TFileGrabber(TKLog* Log);
    ~TFileGrabber();
    TFileGrabber(const TFileGrabber&) = delete;
    TFileGrabber& operator=(const TFileGrabber&) = delete;

    // Starts the GET of URL and returns at once. FileName empty: nothing is saved. Owner is
    // not used. OnDone (may be empty) follows the end of the request, error or not; when the
    // request cannot start (one is still running) it is called, after an Error line, before
    // Download returns.
    void Download(const std::string& URL, const std::string& FileName, framework::TComponent* Owner, int32_t Tag1,
                  int32_t Tag2, TDoneEvent OnDone);
    // The client's completion: logs, saves, calls back.
    void RequestDone(framework::TComponent* Sender, THttpRequest RqType, uint16_t ErrCode);

    // Whether the last completed request's body was saved to FileName; set by the downloader.
    bool Saved() const { return saved_; }

    uint32_t StartTick = 0;
    TKLog* Log = nullptr;
    std::string URL;
    std::string FileName;
    int32_t Tag1 = 0, Tag2 = 0;
    TDoneEvent OnDone;
    std::unique_ptr<framework::TMemoryStream> Stream;
    std::unique_ptr<TSslContext> SslContext;
    std::unique_ptr<TSslHttpClient> Http;
    bool UseProxy = false;
    int32_t ProxyPort = 0;
    std::string ProxyHost;
    std::string ProxyUser;
    std::string ProxyPassword;

private:
    // Writes Stream to FileName through a temporary file in the same folder; false (and an
    // Error line) when it could not.
    bool SaveReplacing();

    // Between the start of the GET and its completion.
    bool requestOpen_ = false;
    bool saved_ = false;
};
