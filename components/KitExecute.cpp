#include "components/KitExecute.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "framework/Handles.h"
#include "framework/SysUtils.h"

// ---------------------------------------------------------------------------------------------
// Kernel objects

namespace {

TKitWaitResult MapWaitResult(DWORD r) {
    switch (r) {
        case WAIT_OBJECT_0: return TKitWaitResult::wrSignaled;
        case WAIT_ABANDONED: return TKitWaitResult::wrAbandoned;
        case WAIT_IO_COMPLETION: return TKitWaitResult::wrIoCompletion;
        case WAIT_TIMEOUT: return TKitWaitResult::wrTimeout;
        default: return TKitWaitResult::wrError;
    }
}

}  // namespace

TKitDispatcherObject::TKitDispatcherObject(HANDLE Handle) : existed_(true), handle_(Handle) {}

TKitDispatcherObject::~TKitDispatcherObject() {
    if (handle_) CloseHandle(handle_);
}

TKitWaitResult TKitDispatcherObject::WaitTimed(DWORD TimeoutMs) { return MapWaitResult(WaitForSingleObject(handle_, TimeoutMs)); }

TKitEvent::TKitEvent(SECURITY_ATTRIBUTES* SecAttr, bool ManualReset, bool InitialState, const std::string& Name) {
    handle_ = CreateEventA(SecAttr, ManualReset, InitialState, Name.empty() ? nullptr : Name.c_str());
    if (!handle_) throw EKitEventError("Failed to create event");
    existed_ = GetLastError() == ERROR_ALREADY_EXISTS;
    name_ = Name;
}

bool TKitEvent::ResetEvent() { return ::ResetEvent(handle_) != FALSE; }
bool TKitEvent::SetEvent() { return ::SetEvent(handle_) != FALSE; }

TKitCriticalSection::TKitCriticalSection() { InitializeCriticalSection(&section_); }
TKitCriticalSection::~TKitCriticalSection() { DeleteCriticalSection(&section_); }
void TKitCriticalSection::Enter() { EnterCriticalSection(&section_); }
void TKitCriticalSection::Leave() { LeaveCriticalSection(&section_); }

DWORD KitWaitForMultipleObjects(const std::vector<TKitDispatcherObject*>& Objects, bool WaitAll, DWORD TimeoutMs) {
    std::vector<HANDLE> handles;
    handles.reserve(Objects.size());
    for (const TKitDispatcherObject* o : Objects) handles.push_back(o->Handle());
    return WaitForMultipleObjectsEx(static_cast<DWORD>(handles.size()), handles.data(), WaitAll, TimeoutMs, TRUE);
}

// ---------------------------------------------------------------------------------------------
// Pipes

DWORD KitPriorityClass(int PriorityIndex) {
    static const DWORD kClasses[6] = {IDLE_PRIORITY_CLASS,     NORMAL_PRIORITY_CLASS,       HIGH_PRIORITY_CLASS,
                                      REALTIME_PRIORITY_CLASS, BELOW_NORMAL_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS};
    return PriorityIndex >= 0 && PriorityIndex < 6 ? kClasses[PriorityIndex] : NORMAL_PRIORITY_CLASS;
}

bool OpenOverlappedPipe(HANDLE* ReadHandle, HANDLE* WriteHandle, SECURITY_ATTRIBUTES* SecAttr, DWORD BufferSize) {
    static volatile LONG pipeCounter = 0;
    if (!ReadHandle || !WriteHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (BufferSize == 0) BufferSize = 4096;
    const LONG serial = InterlockedIncrement(&pipeCounter);
    char name[64];
    std::snprintf(name, sizeof name, "\\\\.\\Pipe\\AsyncAnonPipe.%.8lx.%.8lx.%.8lx", GetCurrentProcessId(),
                  GetCurrentThreadId(), static_cast<unsigned long>(serial));
    // The read end stays in this process: a child (or a grandchild it leaves behind) holding a
    // copy would keep the pipe readable after we close ours, and block for ever on a full pipe
    // instead of getting a broken pipe. Only the write end takes the caller's inheritance.
    SECURITY_ATTRIBUTES readAttr{};
    if (SecAttr) {
        readAttr = *SecAttr;
        readAttr.bInheritHandle = FALSE;
    }
    framework::UniqueHandle read(CreateNamedPipeA(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, 0, 1, BufferSize,
                                                  BufferSize, 120000, SecAttr ? &readAttr : nullptr));
    if (!read) return false;
    framework::UniqueHandle write(
        CreateFileA(name, GENERIC_WRITE, 0, SecAttr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!write) {
        const DWORD error = GetLastError();
        read.reset();
        SetLastError(error);
        return false;
    }
    *ReadHandle = read.release();
    *WriteHandle = write.release();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Captured text

std::string ConvertCapturedLineEnds(const std::string& Text) {
    std::string out(Text.size() + 2, '\0');
    size_t write = 0, lineStart = 0, lineEnd = 0;
    auto room = [&out](size_t need) {
        if (need + 2 >= out.size()) out.resize(out.size() + 1024);
    };
    for (const char c : Text) {
        if (c == '\r') {
            write = lineStart;
        } else if (c == '\n') {
            room(lineEnd + 2);
            out[lineEnd] = '\r';
            out[lineEnd + 1] = '\n';
            write = lineStart = lineEnd = lineEnd + 2;
        } else {
            room(write + 1);
            out[write++] = c;
            lineEnd = write;
        }
    }
    out.resize(write);
    return out;
}

namespace {

// One line of n characters: a line the child overwrote in place (ending in CR) is muted
// unless raw; the terminators are stripped.
void EmitLine(TPipeInfo& P, std::string Line) {
    if (!P.Raw && !Line.empty() && Line.back() == '\r') return;
    while (!Line.empty() && (Line.back() == '\r' || Line.back() == '\n')) Line.pop_back();
    P.OnLine(Line);
}

void DeliverBytes(TPipeInfo& P, const char* Data, DWORD Count) {
    P.PendingText.append(Data, Count);
    if (!P.OnLine) return;
    for (;;) {
        std::string& t = P.PendingText;
        size_t cr = t.find('\r');
        if (cr != std::string::npos && cr == t.size() - 1) cr = std::string::npos;  // its LF may still come
        const size_t lf = t.find('\n');
        if (cr == std::string::npos && lf == std::string::npos) return;
        size_t end = lf;
        if (cr != std::string::npos && (lf == std::string::npos || (cr < lf && lf - cr > 1))) end = cr;
        std::string line = t.substr(0, end + 1);
        t.erase(0, end + 1);
        EmitLine(P, std::move(line));
    }
}

void CloseRead(TPipeInfo& P) {
    P.PipeRead.reset();
    P.ReadPending = false;
}

// The end of the stream: the child closed its end, or a read was cancelled at the end.
bool IsEndOfStream(DWORD Error) { return Error == ERROR_BROKEN_PIPE || Error == ERROR_OPERATION_ABORTED; }

void StartRead(TPipeInfo& P) {
    P.ReadPending = false;
    if (ReadFile(P.PipeRead.get(), P.Buffer, sizeof P.Buffer - 1, nullptr, &P.Overlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        P.ReadPending = true;
        return;
    }
    if (GetLastError() == ERROR_BROKEN_PIPE) {
        CloseRead(P);
        return;
    }
    framework::RaiseLastOSError();
}

// The stream's event fired: take the bytes and read on.
void ReadCompleted(TPipeInfo& P) {
    if (!P.PipeRead || !P.ReadPending) return;
    DWORD count = 0;
    if (GetOverlappedResult(P.PipeRead.get(), &P.Overlapped, &count, FALSE)) {
        P.ReadPending = false;
        P.Buffer[count] = '\0';
        DeliverBytes(P, P.Buffer, count);
        StartRead(P);
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return;  // not finished after all: keep waiting
    if (IsEndOfStream(error)) {
        CloseRead(P);
        return;
    }
    framework::RaiseLastOSError();
}

// One synchronous read on the overlapped handle; false at the end of the stream.
bool ReadNow(TPipeInfo& P, DWORD Count) {
    DWORD got = 0;
    if (!ReadFile(P.PipeRead.get(), P.Buffer, Count, nullptr, &P.Overlapped) && GetLastError() != ERROR_IO_PENDING) {
        if (IsEndOfStream(GetLastError())) return false;
        framework::RaiseLastOSError();
    }
    if (!GetOverlappedResult(P.PipeRead.get(), &P.Overlapped, &got, TRUE)) {
        if (IsEndOfStream(GetLastError())) return false;
        framework::RaiseLastOSError();
    }
    P.Buffer[got] = '\0';
    DeliverBytes(P, P.Buffer, got);
    return true;
}

// After the child ended: the read in flight is cancelled and what it got delivered, then
// whatever still sits in the pipe is read. A grandchild that still holds the write end can
// keep the pipe full for ever, so the drain stops as soon as Aborted says so.
void FinalDrain(TPipeInfo& P, const std::function<bool()>& Aborted) {
    if (!P.PipeRead) return;
    if (P.ReadPending) {
        KitCancelIo(P.PipeRead.get());
        DWORD count = 0;
        const BOOL ok = GetOverlappedResult(P.PipeRead.get(), &P.Overlapped, &count, TRUE);
        P.ReadPending = false;
        if (ok) {
            P.Buffer[count] = '\0';
            DeliverBytes(P, P.Buffer, count);
        } else if (GetLastError() == ERROR_BROKEN_PIPE) {
            CloseRead(P);
            return;
        } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
            framework::RaiseLastOSError();
        }
    }
    DWORD available = 0;
    while (!Aborted() && PeekNamedPipe(P.PipeRead.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0)
        if (!ReadNow(P, std::min<DWORD>(available, sizeof P.Buffer - 1))) break;
}

// A new pipe for the stream, owned by it from here on.
bool OpenPipe(TPipeInfo& P, SECURITY_ATTRIBUTES* SecAttr) {
    HANDLE read = nullptr, write = nullptr;
    if (!OpenOverlappedPipe(&read, &write, SecAttr, 0)) return false;
    P.PipeRead.reset(read);
    P.PipeWrite.reset(write);
    return true;
}

// Clean-up: a read still in flight is cancelled and waited for before its buffer goes.
void ClosePipe(TPipeInfo& P) {
    if (P.PipeRead && P.ReadPending) {
        KitCancelIo(P.PipeRead.get());
        DWORD count = 0;
        GetOverlappedResult(P.PipeRead.get(), &P.Overlapped, &count, TRUE);
    }
    CloseRead(P);
    P.PipeWrite.reset();
}

// What one run holds, released however it ends and in this order: the pipes first (a read
// in flight is waited for on its stream's event), then the child's handles, then the events.
// The last error of the run survives the clean-up for the caller.
struct TRunResources {
    TPipeInfo& out;
    TPipeInfo& err;
    std::unique_ptr<TKitEvent> outEvent, errEvent;
    framework::UniqueKernelHandle thread;
    framework::UniqueKernelHandle processHandle;  // until `process` takes it over
    std::unique_ptr<TKitDispatcherObject> process;

    TRunResources(TPipeInfo& Out, TPipeInfo& Err) : out(Out), err(Err) {}
    TRunResources(const TRunResources&) = delete;
    TRunResources& operator=(const TRunResources&) = delete;
    ~TRunResources() {
        const DWORD lastError = GetLastError();
        ClosePipe(out);
        ClosePipe(err);
        thread.reset();
        process.reset();
        processHandle.reset();
        outEvent.reset();
        errEvent.reset();
        SetLastError(lastError);
    }
};

void FinishText(TPipeInfo& P, std::string& Text) {
    if (P.PendingText.empty()) return;
    if (P.OnLine) EmitLine(P, P.PendingText);
    else if (P.Raw) Text += P.PendingText;
    else Text += ConvertCapturedLineEnds(P.PendingText);
    P.PendingText.clear();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Execution

uint32_t ExecuteCommand(const std::string& CommandLine, std::atomic<bool>* AbortFlag, TKitDispatcherObject* AbortEvent,
                        std::string& Output, const TKitTextHandler& OutputCallback, bool RawOutput, bool MergeError,
                        std::string& Error, const TKitTextHandler& ErrorCallback, bool RawError, int PriorityIndex,
                        const std::string& ApplicationName) {
    uint32_t exitCode = kKitNoExitCode;
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = nullptr;
    sa.bInheritHandle = TRUE;

    TPipeInfo out, err;
    out.OnLine = OutputCallback;
    out.Raw = RawOutput;
    err.OnLine = ErrorCallback;
    err.Raw = RawError;
    {
        TRunResources run(out, err);
        if (!OpenPipe(out, &sa)) return GetLastError();
        run.outEvent = std::make_unique<TKitEvent>(nullptr, false, false, std::string());
        out.Overlapped.hEvent = run.outEvent->Handle();
        if (!MergeError) {
            if (!OpenPipe(err, &sa)) return GetLastError();
            run.errEvent = std::make_unique<TKitEvent>(nullptr, false, false, std::string());
            err.Overlapped.hEvent = run.errEvent->Handle();
        }

        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
        si.wShowWindow = SW_HIDE;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out.PipeWrite.get();
        si.hStdError = MergeError ? out.PipeWrite.get() : err.PipeWrite.get();

        std::string commandCopy = CommandLine;  // CreateProcessA may write into it
        commandCopy.push_back('\0');
        PROCESS_INFORMATION pi{};
        if (CreateProcessA(ApplicationName.empty() ? nullptr : ApplicationName.c_str(), commandCopy.data(), nullptr,
                           nullptr, TRUE, KitPriorityClass(PriorityIndex), nullptr, nullptr, &si, &pi)) {
            run.thread.reset(pi.hThread);
            run.processHandle.reset(pi.hProcess);
            try {
                // The child holds its own copies of the write ends now; ours would keep the
                // pipes open after it ends.
                out.PipeWrite.reset();
                err.PipeWrite.reset();

                std::atomic<bool> localAbort{false};
                std::atomic<bool>& abort = AbortFlag ? *AbortFlag : localAbort;
                abort = false;
                run.process = std::make_unique<TKitDispatcherObject>(run.processHandle.get());
                run.processHandle.release();
                TKitDispatcherObject* process = run.process.get();
                std::vector<TKitDispatcherObject*> waitList{process, run.outEvent.get()};
                if (!MergeError) waitList.push_back(run.errEvent.get());
                if (AbortEvent) {
                    if (auto* event = dynamic_cast<TKitEvent*>(AbortEvent)) event->ResetEvent();
                    waitList.push_back(AbortEvent);
                }
                const DWORD abortIndex = AbortEvent ? static_cast<DWORD>(waitList.size() - 1) : MAXDWORD;
                // The lowest signalled index wins a wait, so while output flows the reads would win
                // every wake-up: the abort event is looked at after each one as well.
                auto aborted = [&]() {
                    if (!abort && AbortEvent && AbortEvent->WaitTimed(0) == TKitWaitResult::wrSignaled) abort = true;
                    return abort.load();
                };

                StartRead(out);
                if (!MergeError) StartRead(err);

                while (!aborted()) {
                    const DWORD r = KitWaitForMultipleObjects(waitList, false, INFINITE);
                    if (r == WAIT_IO_COMPLETION) continue;  // an APC ran: look at the abort flag again
                    if (r >= WAIT_OBJECT_0 + waitList.size()) framework::RaiseLastOSError();
                    const DWORD index = r - WAIT_OBJECT_0;
                    if (index == 0) break;
                    if (index == abortIndex) abort = true;
                    else if (index == 1) ReadCompleted(out);
                    else if (index == 2) ReadCompleted(err);
                }
                if (abort) TerminateProcess(process->Handle(), ERROR_CANCELLED);

                if (process->WaitInfinite() == TKitWaitResult::wrSignaled) {
                    DWORD code = 0;
                    exitCode = GetExitCodeProcess(process->Handle(), &code) ? code : kKitNoExitCode;
                }
                run.thread.reset();

                FinalDrain(out, aborted);
                if (!MergeError) FinalDrain(err, aborted);
            } catch (...) {
                // The child must not outlive a failed run.
                HANDLE h = run.process ? run.process->Handle() : run.processHandle.get();
                TerminateProcess(h, ERROR_CANCELLED);
                WaitForSingleObject(h, INFINITE);
                throw;
            }
        }
    }

    FinishText(out, Output);
    if (!MergeError) FinishText(err, Error);
    return exitCode;
}

uint32_t ExecuteAndCapture(const std::string& CommandLine, std::string& Output, bool RawOutput,
                           std::atomic<bool>* AbortFlag, int PriorityIndex, TKitDispatcherObject* AbortEvent,
                           const std::string& ApplicationName) {
    std::string unused;
    return ExecuteCommand(CommandLine, AbortFlag, AbortEvent, Output, nullptr, RawOutput, true, unused, nullptr, false,
                          PriorityIndex, ApplicationName);
}
