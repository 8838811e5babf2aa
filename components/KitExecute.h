// Command execution with captured output: runs a command line as a hidden child process and
// collects what it writes to standard output and standard error through overlapped named
// pipes, waiting in the calling thread until the child ends or is aborted. Also the small
// kernel-object wrappers it waits on (waitable object, event, critical section).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/KitSysUtils.h"
#include "framework/Handles.h"

// How a wait ended (WAIT_OBJECT_0 -> signalled, WAIT_ABANDONED -> abandoned,
// WAIT_IO_COMPLETION -> I/O completion, WAIT_TIMEOUT -> timeout, anything else -> error).
enum class TKitWaitResult { wrAbandoned, wrError, wrIoCompletion, wrSignaled, wrTimeout };

// Owns one waitable kernel handle and closes it on destruction.
class TKitDispatcherObject {
public:
    // Takes over an existing handle (a process, a mutex, a waitable timer, ...).
    explicit TKitDispatcherObject(HANDLE Handle);
    virtual ~TKitDispatcherObject();
    TKitDispatcherObject(const TKitDispatcherObject&) = delete;
    TKitDispatcherObject& operator=(const TKitDispatcherObject&) = delete;

    TKitWaitResult WaitTimed(DWORD TimeoutMs);
    TKitWaitResult WaitInfinite() { return WaitTimed(INFINITE); }

    bool Existed() const { return existed_; }  // the object was already there when opened or created
    HANDLE Handle() const { return handle_; }
    const std::string& Name() const { return name_; }

protected:
    TKitDispatcherObject() = default;
    bool existed_ = false;
    HANDLE handle_ = nullptr;
    std::string name_;
};

// A kernel event. An empty name gives an unnamed one; Existed tells that a named event was
// opened rather than created. Failure raises EKitEventError "Failed to create event".
class TKitEvent : public TKitDispatcherObject {
public:
    TKitEvent(SECURITY_ATTRIBUTES* SecAttr, bool ManualReset, bool InitialState, const std::string& Name);
    bool ResetEvent();
    bool SetEvent();
};

// A critical section, initialised at construction and deleted at destruction.
class TKitCriticalSection {
public:
    TKitCriticalSection();
    virtual ~TKitCriticalSection();
    TKitCriticalSection(const TKitCriticalSection&) = delete;
    TKitCriticalSection& operator=(const TKitCriticalSection&) = delete;
    void Enter();
    void Leave();

private:
    CRITICAL_SECTION section_;
};

// WaitForMultipleObjectsEx over the objects' handles in array order, alertable; the raw result.
DWORD KitWaitForMultipleObjects(const std::vector<TKitDispatcherObject*>& Objects, bool WaitAll, DWORD TimeoutMs);

// One line of a captured stream (trailing CR and LF removed).
using TKitTextHandler = std::function<void(const std::string& Line)>;

// A captured stream. Reads go through Overlapped (its event is the stream's event).
struct TPipeInfo {
    framework::UniqueKernelHandle PipeRead;
    framework::UniqueKernelHandle PipeWrite;  // this process's copy, closed once the child has started
    char Buffer[256] = {};       // at most 255 bytes a read, a zero behind the data
    std::string PendingText;     // read and not yet delivered
    TKitTextHandler OnLine;
    bool Raw = false;
    OVERLAPPED Overlapped = {};
    bool ReadPending = false;    // a read was started and its result not yet taken
};

// Process creation flags by priority index 0-5 (idle, normal, high, real time, below and
// above normal). An index outside that range runs at normal priority.
DWORD KitPriorityClass(int PriorityIndex);

// A named pipe for one captured stream: the read end is inbound and overlapped, the write
// end opened on it for the child. Only the write end takes SecAttr's inheritance: the read end
// is never inherited. Names are "\\.\Pipe\AsyncAnonPipe.<pid>.<tid>.<counter>"
// with a process-wide counter, so they never repeat. BufferSize 0 means 4096. False with the
// last error set on failure.
bool OpenOverlappedPipe(HANDLE* ReadHandle, HANDLE* WriteHandle, SECURITY_ATTRIBUTES* SecAttr, DWORD BufferSize);

// Non-raw text: each line ends in CR LF, and a CR sends the write back to the line's start so
// what follows overwrites it (a progress line); a final line ending in CR alone is dropped.
std::string ConvertCapturedLineEnds(const std::string& Text);

// The exit code while none is known (process not started, wait not signalled).
constexpr uint32_t kKitNoExitCode = 0xFFFFFFFFu;

// Runs CommandLine hidden and waits for it. Output (and Error, unless MergeError) receive what
// the child wrote: line by line through the callback when one is given, else appended to the
// text (converted by ConvertCapturedLineEnds unless raw). The run is aborted (the child
// terminated with 1223, ERROR_CANCELLED) when *AbortFlag turns true, looked at after every
// wake-up, or when AbortEvent is signalled (an event is reset first; a waitable timer armed by
// the caller bounds the run). Both are also looked at after every wake-up and between the reads
// of the final drain, so neither a chatty child nor a grandchild that keeps the pipe full
// delays the abort. ApplicationName, when not empty, is the executable to start:
// the command line should then quote it as its first word. Returns the child's exit code, the
// Win32 error of a pipe that could not be made, or kKitNoExitCode when the child did not
// start (the reason stays in the last error). Read errors and unexpected wait results raise
// framework::EOSError after the child was terminated and waited for.
uint32_t ExecuteCommand(const std::string& CommandLine, std::atomic<bool>* AbortFlag, TKitDispatcherObject* AbortEvent,
                        std::string& Output, const TKitTextHandler& OutputCallback, bool RawOutput, bool MergeError,
                        std::string& Error, const TKitTextHandler& ErrorCallback, bool RawError, int PriorityIndex,
                        const std::string& ApplicationName = std::string());

// ExecuteCommand with standard error merged into standard output and no callbacks; the text
// is appended to Output.
uint32_t ExecuteAndCapture(const std::string& CommandLine, std::string& Output, bool RawOutput,
                           std::atomic<bool>* AbortFlag, int PriorityIndex, TKitDispatcherObject* AbortEvent = nullptr,
                           const std::string& ApplicationName = std::string());
