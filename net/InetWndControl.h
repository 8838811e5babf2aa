// The hidden message window every asynchronous internet component stands on.
//
// A TInetWndControl owns a few private message ids (from WM_USER + 1 upward) on a hidden
// window of the thread that created it; socket events, look-up results, deferred work and
// timer ticks arrive there as messages and go back to the owning component on its own
// thread. One hidden window (a TInetWndHandler) serves up to 100 ids, so the components of
// a thread share windows; the process-wide pool keeps one list of handlers per thread.
//
// Lifetimes, because message handlers run user code that may free what it likes:
//  - an id freed by a component has its queued messages dropped, so a later owner of the
//    same id never receives them (a marker posted at the free ends the drop: sweeping the
//    queue there would run messages other threads sent, user code, inside the release);
//  - a result names the claim of the id it was asked under (each claim of an id gets a
//    serial never reused): it reaches that claim's owner or nobody, never a component that
//    took the id after the asker let it go. A result another thread sends carries its claim;
//    a request of the socket library answers by its task handle, and a component's own
//    posted result by a ticket, both found in the window's table of claims, whose entries
//    go with their id. TInetWndHandler::DeliverClaimed is the one way such a result
//    reaches an id;
//  - a handler whose window procedure is running is freed only when that procedure returns;
//  - window timers are found through a registry of live timers keyed by an id that is never
//    reused, so a WM_TIMER still queued after KillTimer or after the timer was freed is
//    ignored; nothing is looked at through the message's own pointer;
//  - a component calls user handlers only through FireEvent (or Fired around a trigger),
//    and goes on afterwards only when the answer says it lives and its work is unchanged;
//  - a thread move takes the component's armed timers along (they tick on the new thread).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/Component.h"
#include "framework/Controls.h"
#include "framework/Exception.h"
#include "net/InetUtils.h"

// Window and message-id errors.
class EInetException : public framework::Exception {
public:
    using framework::Exception::Exception;
};
// Timer errors.
class EInetTimerException : public framework::Exception {
public:
    using framework::Exception::Exception;
};
// A silent exception: raised inside a message handler it is ignored, not reported.
class EAbort : public framework::Exception {
public:
    EAbort() : framework::Exception("Operation aborted") {}
    using framework::Exception::Exception;
};

constexpr int MessageIdsPerHandler = 100;

class TInetWndControl;
class TInetWndHandlerList;
class TInetTimer;

using TInetBgExceptionEvent = std::function<void(framework::TComponent* Sender, const std::exception& E, bool& CanClose)>;
using TInetPumpHook = std::function<void(TInetWndControl* Sender)>;

// What a result sent from another thread is for: an id and the claim of it the request was
// made under. The sender sends InetSentResultMessage() with wParam pointing at it (it lives
// while the send lasts); the window hands it on as message Id with the same wParam and
// lParam only while that claim still holds.
struct TInetSentTarget {
    UINT Id = 0;
    uint64_t Claim = 0;
};
UINT InetSentResultMessage();
// The registered message the socket library's asynchronous requests answer to (wParam: the
// request's task handle), routed through the window's table of claims.
UINT InetAsyncTaskMessage();
// The registered message of a component's posted result (wParam: its ticket in the table).
UINT InetPostedResultMessage();

// One hidden window and the owners of its 100 message ids.
class TInetWndHandler {
public:
    TInetWndHandler() = default;
    TInetWndHandler(const TInetWndHandler&) = delete;
    TInetWndHandler& operator=(const TInetWndHandler&) = delete;
    ~TInetWndHandler();

    HWND Wnd = nullptr;
    TInetWndControl* Owners[MessageIdsPerHandler] = {};
    UINT MsgLow = 0;
    int OwnersUsed = 0;
    TInetWndHandlerList* ParentList = nullptr;
    // Exceptions that escape dispatch; without it they go to the thread's reporting mode.
    std::function<void(TInetWndHandler* Sender, const std::exception& E, bool& CanClose)> HandlerBgException;
    // Consulted for messages that are none of the window's ids.
    std::function<void(TInetWndHandler* Sender, framework::TMessage& Msg, bool& Handled)> MessageHook;

    // The lowest free id, now owned by Control. Raises EInetException "MsgLow not defined"
    // or "No more free message". Never creates the window.
    UINT ClaimMessageId(TInetWndControl* Control);
    // Frees Id (nothing for 0) and sets it to 0, dropping its queued messages; the window
    // goes with the last id. Raises "MsgLow not defined", "Msg value out of bound" or
    // "Msg not registered".
    void FreeMessageId(UINT& Id);
    // The serial of the current claim of Id, 0 when it is free or not this window's.
    uint64_t IdClaim(UINT Id) const;
    void CreateHiddenWnd();
    void DestroyHiddenWnd();
    int FreeIdCount() const { return MessageIdsPerHandler - OwnersUsed; }
    // The window's table of claims: the socket library's request Task answers to message Id
    // of the claim that holds now; Forget drops it (the request was cancelled).
    void ExpectTask(HANDLE Task, UINT Id);
    void ForgetTask(HANDLE Task);
    // Posts message Id with W and L for the claim that holds now; false when it was not posted.
    bool PostClaimed(UINT Id, WPARAM W, LPARAM L);
    // Drops the posted results of Id still queued: their messages come to nothing.
    void DropPosted(UINT Id);
    // Entries of the table (tasks and posted results) waiting for their message.
    size_t ClaimedCount() const;

private:
    friend LRESULT CALLBACK InetHiddenWindowProc(HWND, UINT, WPARAM, LPARAM);
    friend class TInetWndHandlerPool;
    friend class TInetWndControl;
    void Dispatch(HWND Wnd, framework::TMessage& Msg);
    void ReportEscaped(const std::exception& E);
    void FreeIdsOf(TInetWndControl* Control);
    // Hands W and L to the owner of Target's claim as message Target.Id; nothing when the
    // claim no longer holds.
    void DeliverClaimed(const TInetSentTarget& Target, WPARAM W, LPARAM L, framework::TMessage& Msg);
    void DropClaimsOf(int Index);

    struct TPostedResult {
        TInetSentTarget Target;
        WPARAM W = 0;
        LPARAM L = 0;
    };
    // Guarded by the pool's lock: a component may be freed on another thread.
    std::map<UINT_PTR, TInetSentTarget> tasks_;
    std::map<UINT_PTR, TPostedResult> posted_;
    UINT_PTR nextTicket_ = 0;

    uint32_t magic_ = 0x494E4554;  // tells the window procedure the slot holds a handler
    // Per id: markers posted when it was freed that have not come through yet; posted
    // messages of the id are stale until then.
    uint32_t staleMarkers_[MessageIdsPerHandler] = {};
    // Per id: the serial of its current claim (0 when free).
    uint64_t claims_[MessageIdsPerHandler] = {};
    int dispatchDepth_ = 0;
    bool deletePending_ = false;
};

// The handlers of one thread.
class TInetWndHandlerList {
public:
    DWORD OwnerThread = 0;
    std::vector<TInetWndHandler*> Handlers;
};

// One per process: a list of handlers per thread, and the lock that guards the pool, every
// handler's owners and every component's window fields while they change.
class TInetWndHandlerPool {
public:
    // A handler of OwnerThread with IdsNeeded free ids, made when none has them. Raises
    // EInetException "INET message IDs out of bounds!" above 100.
    TInetWndHandler* HandlerForThread(int IdsNeeded, DWORD OwnerThread);
    // Removes the handler from its list (and the list when it is then empty) and frees it.
    void ReleaseHandler(TInetWndHandler*& Handler);
    void Lock() { cs_.Enter(); }
    void Unlock() { cs_.Leave(); }
    TInetCriticalSection& Section() { return cs_; }
    size_t ListCount() const { return lists_.size(); }

private:
    std::vector<TInetWndHandlerList*> lists_;
    TInetCriticalSection cs_;
};

TInetWndHandlerPool& InetWndHandlerPool();
// Hidden windows that exist now, in all threads.
int InetHiddenWindowCount();
// How this thread reports background exceptions nobody handled: 0 not at all (the default),
// 1 to the application's OnException when one is set, 2 in a message box.
uint8_t& InetBgExceptionReportMode();
// The registered message posted behind the queued messages of a freed id (wParam: its index).
UINT InetIdFreedMessage();
// The registered message the clock threads of thread timers post ("QUARLINE_INET_THREAD_TIMER").
UINT InetThreadTimerMessage();


// Base of every asynchronous internet component.
class TInetWndControl : public framework::TComponent {
public:
    explicit TInetWndControl(framework::TComponent* Owner);
    ~TInetWndControl() override;

    HWND WindowHandle() const { return windowHandle_; }
    DWORD OwnerThread() const { return ownerThread_; }
    bool WindowGone() const { return windowGone_; }
    TInetWndHandler* HandlerRef() const { return handlerRef_; }
    UINT IdRelease() const { return idRelease_; }
    // The serial of this component's claim of Id (0 when it holds none): what a result sent
    // from another thread names (TInetSentTarget).
    uint64_t IdClaim(UINT Id) const { return handlerRef_ ? handlerRef_->IdClaim(Id) : 0; }
    // The window, allocated in the calling thread on first use.
    HWND GetHandle();
    // Posts message Id (one of this component's) to its window for the claim held now:
    // a later owner of the id never receives it. False when nothing was posted.
    bool PostToId(UINT Id, WPARAM W = 0, LPARAM L = 0);

    bool MultiThreaded() const { return multiThreaded_; }
    virtual void SetMultiThreaded(bool Value) { multiThreaded_ = Value; }
    // Set by the message loops on WM_QUIT; also true while the application terminates.
    virtual bool GetTerminated();
    virtual void SetTerminated(bool Value) { terminated_ = Value; }
    const TInetPumpHook& PumpHook() const { return pumpHook_; }
    virtual void SetPumpHook(TInetPumpHook Event) { pumpHook_ = std::move(Event); }
    const TInetBgExceptionEvent& OnBgException() const { return onBgException_; }
    virtual void SetOnBgException(TInetBgExceptionEvent Event) { onBgException_ = std::move(Event); }
    // Called before the abort that follows a background exception.
    std::function<void(const std::exception& E)> AbortNotify;

    // Destroys the component from the message loop, after the current handler returned
    // (the component must be one that FreeSelf may free: see there).
    virtual void ReleaseLater();
    // Moves the component to the calling thread; Detach only from the owning thread.
    virtual void AttachToThread();
    virtual void DetachFromThread();
    // The thread's message loop until WM_QUIT or termination.
    virtual void RunMessageLoop();
    // One message of the thread; false when there was none.
    virtual bool PumpOneMessage();
    virtual void PumpAllMessages();
    // What every wait loop calls: the pump hook, else this thread's messages when
    // MultiThreaded, else the application's ProcessMessages.
    virtual void PumpMessages();

    std::shared_ptr<const bool> AliveToken() const { return alive_; }

    // What the component runs now (a connection, a request) has a serial that changes
    // whenever that work begins, ends or is replaced. A watch taken before a handler runs
    // tells afterwards whether the handler freed the component or changed its work.
    class TFireWatch {
    public:
        explicit TFireWatch(const TInetWndControl& Control)
            : control_(&Control), alive_(Control.alive_), work_(Control.workSerial_) {}
        [[nodiscard]] bool Alive() const { return *alive_; }
        // Alive and still at the same work.
        [[nodiscard]] bool Holds() const { return *alive_ && control_->workSerial_ == work_; }

    private:
        const TInetWndControl* control_;
        std::shared_ptr<const bool> alive_;
        uint64_t work_;
    };
    uint64_t WorkSerial() const { return workSerial_; }

protected:
    // The component's work changed hands: watches taken before now no longer hold.
    void NewWork() { ++workSerial_; }
    // The one way a component calls an event handler. True when, after it, the component
    // and its work are still those that fired the event; the caller goes on only then.
    // The handler is copied first: it may reassign or clear the event it runs from.
    template <class Handler, class... Args>
    [[nodiscard]] bool FireEvent(const Handler& Event, Args&&... A) {
        const TFireWatch watch(*this);
        if (Event) {
            auto h = Event;
            h(std::forward<Args>(A)...);
        }
        return watch.Holds();
    }
    // The same check around a step that fires an event through a layer's virtual trigger or
    // relays another component's event: true when the component and its work held.
    template <class Step>
    [[nodiscard]] bool Fired(Step&& S) {
        const TFireWatch watch(*this);
        S();
        return watch.Holds();
    }

    // Releases the window the first time it is called. Derived destructors call it first,
    // so that their own ids are returned while their ReturnMessageIds still exists.
    virtual void ReleaseWindowOnce();
    virtual void WndProc(framework::TMessage& Msg);
    // Background exceptions: EAbort is ignored; OnBgException may clear CanClose; then
    // AbortNotify and AbortAfterException; unhandled ones go to the reporting mode.
    virtual void HandleBgException(const std::exception& E, const std::string& MethodName);
    virtual void TriggerBgException(const std::exception& E, bool& CanClose);
    // The IdRelease handler: deletes the component. Components held by an owner's
    // std::unique_ptr override it to release themselves through their owner.
    virtual void FreeSelf();
    virtual void AllocateHiddenWindow();
    virtual void ReleaseHiddenWindow();
    // Ids the component needs; each layer adds its own to the inherited count. These are
    // virtual calls: a constructor sees only its own class's overrides, so a layered
    // component allocates its window once it is fully built (GetHandle after construction,
    // or from the most-derived constructor).
    virtual int MessageIdCount() { return 1; }
    // Each layer claims its ids after the inherited ones and returns them before.
    virtual void TakeMessageIds();
    virtual void ReturnMessageIds();
    virtual void AbortAfterException(const std::exception& E) {}
    // Marks the component as going away (AliveToken false) and releases its window.
    void BeginDestroy();

    bool terminated_ = false;

private:
    friend class TInetWndHandler;

    HWND windowHandle_ = nullptr;
    DWORD ownerThread_ = 0;
    bool windowGone_ = false;
    bool multiThreaded_ = false;
    TInetWndHandler* handlerRef_ = nullptr;
    UINT idRelease_ = 0;
    TInetBgExceptionEvent onBgException_;
    TInetPumpHook pumpHook_;
    std::shared_ptr<bool> alive_;
    uint64_t workSerial_ = 0;
};

// A plain window timer on its owner's hidden window: OnTimer every Interval ms while
// Enabled. The setters need the owner to hold a window.
class TInetTimer : public framework::TComponent {
public:
    // Raises EInetTimerException "Owner not assigned" for no owner.
    explicit TInetTimer(TInetWndControl* Owner);
    ~TInetTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool Value);
    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t Value);
    const framework::TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(framework::TNotifyEvent Value);

    // Unique for the life of the process: the system timer id and the registry key.
    UINT_PTR TimerId() const { return timerId_; }
    uint32_t LastArmTick() const { return lastArmTick_; }
    TInetWndControl* OwnerControl() const { return ownerControl_; }
    // Whether a system timer is set now.
    bool Armed() const { return armedWnd_ != nullptr; }

protected:
    virtual void UpdateTimer();
    // Fires OnTimer; the handler may free the timer, so nothing follows the call.
    virtual void TimerFired(framework::TMessage& Msg);
    // Thread timers arrive by the registered message rather than WM_TIMER.
    virtual bool IsThreadTimer() const { return false; }
    // Stops the ticks and keeps the settings: the owner moves to another thread, where
    // UpdateTimer arms the timer again.
    virtual void Disarm();
    void Notification(framework::TComponent* Component, framework::TOperation Operation) override;
    void KillSystemTimer();

    bool enabled_ = true;
    uint32_t interval_ = 1000;
    framework::TNotifyEvent onTimer_;
    uint32_t lastArmTick_ = 0;
    TInetWndControl* ownerControl_;

private:
    friend class TInetWndHandler;
    friend class TInetWndControl;
    void RequireWindow();
    UINT_PTR timerId_;
    HWND armedWnd_ = nullptr;
};
