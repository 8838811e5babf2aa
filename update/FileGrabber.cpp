#include "update/FileGrabber.h"

#include <windows.h>

#include <exception>

#include "foundation/Log.h"
#include "framework/Handles.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "net/HttpClient.h"
#include "net/SslContext.h"
#include "update/HttpCusto.h"

using framework::UniqueHandle;

TFileGrabber::TFileGrabber(TKLog* Log) : Log(Log) {
    Stream = std::make_unique<TReplyStream>();
    Http = std::make_unique<TSslHttpClient>(nullptr);
    SslContext = std::make_unique<TSslContext>(nullptr);
    Http->SetSslContext(SslContext.get());
}

TFileGrabber::~TFileGrabber() {
    OnDone = nullptr;
    Tag1 = Tag2 = 0;
    if (Http) Http->OnRequestDone = nullptr;
    SslContext.reset();
    Http.reset();
    Stream.reset();
}

void TFileGrabber::Download(const std::string& URL, const std::string& FileName, framework::TComponent* Owner,
                            int32_t Tag1, int32_t Tag2, TDoneEvent OnDone) {
    if (requestOpen_ || Http->State() != hcsReady) {
        // The running download keeps its client, stream and file; this one ends here.
        if (Log) Log->Add("File download : Cannot start (a download is running)", 2);
        if (OnDone) OnDone(this);
        return;
    }
    this->URL = URL;
    this->FileName = FileName;
    this->Tag1 = Tag1;
    this->Tag2 = Tag2;
    this->OnDone = std::move(OnDone);
    saved_ = false;
    Stream->Clear();

    auto done = [this](framework::TComponent* Sender, THttpRequest RqType, uint16_t ErrCode) {
        RequestDone(Sender, RqType, ErrCode);
    };
    try {
        SetupHttpClient(*Http);
        Http->Timeout = 10;
        Http->OnRequestDone = done;
        ApplyProxy(*Http, UseProxy, ProxyHost, ProxyPort, ProxyUser, ProxyPassword);
        Http->URL = DowngradeUrlIfNoSsl(URL);
        if (!framework::SameText(Http->URL, URL) && Log) Log->Add("FileGrabber : No SSL / Back to HTTP", 0);
        Http->ReceiveStream = Stream.get();
        Http->OnRequestDone = done;
        StartTick = GetTickCount();
        requestOpen_ = true;
        Http->StartGet();
    } catch (const std::exception& E) {
        // No completion follows a request that did not start: say so and end it here, so a
        // caller waiting for OnDone is not left waiting.
        requestOpen_ = false;
        if (Log) Log->Add(std::string("File download : Cannot start (") + E.what() + ")", 2);
        if (this->OnDone) this->OnDone(this);
    }
}

void TFileGrabber::RequestDone(framework::TComponent* Sender, THttpRequest RqType, uint16_t ErrCode) {
    requestOpen_ = false;
    if (ErrCode != 0 || RqType != httpGET) {
        if (Log)
            Log->Add("File download : Server error (" + std::to_string(ErrCode) + " Cause : " + Http->ReasonPhrase() + ")",
                     2);
    } else if (Http->StatusCode() < 200 || Http->StatusCode() > 299) {
        // An error page is no file of ours: the copy we have stays.
        if (Log)
            Log->Add("File download : Server error (" + std::to_string(Http->StatusCode()) + " Cause : " +
                         Http->ReasonPhrase() + ")",
                     2);
    } else {
        if (Log) Log->Add("File downloaded in " + std::to_string(GetTickCount() - StartTick) + "ms", 1);
        Stream->Seek(0, framework::TSeekOrigin::soBeginning);
        if (!FileName.empty()) saved_ = SaveReplacing();
    }
    if (OnDone && RqType == httpGET) {
        try {
            OnDone(this);
        } catch (const std::exception& E) {
            // This runs from the message loop: nothing may leave it.
            if (Log) Log->Add(std::string("File download : ") + E.what(), 2);
        }
    }
}

bool TFileGrabber::SaveReplacing() {
    std::string error;
    if (framework::ReplaceFileContents(FileName, Stream->Bytes(), error)) return true;
    if (Log) Log->Add("File download : Cannot write " + FileName + " (" + error + ")", 2);
    return false;
}
