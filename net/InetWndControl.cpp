#include "net/InetWndControl.h"

#include <algorithm>
#include <atomic>
#include <unordered_map>

#include "framework/Forms.h"
#include "framework/SysUtils.h"

namespace {

const char kClassName[] = "InetWndControlWindowClass";

// Set when the process's static objects go: a window allocated after that has no pool to
// live in.
bool gUnitFinalized = false;
struct UnitFinalizer {
    ~UnitFinalizer() { gUnitFinalized = true; }
} gUnitFinalizer;

UINT gMsgLowSeed = 0;

// The window class and the number of hidden windows, under one lock.
TInetCriticalSection& ClassLock() {
    static TInetCriticalSection* cs = new TInetCriticalSection;
    return *cs;
}
int gWindowCount = 0;

// Live timers by id. Ids come from a counter and are never reused, so a stale WM_TIMER
// finds nothing.
struct TimerRegistry {
    TInetCriticalSection cs;
    std::unordered_map<UINT_PTR, TInetTimer*> timers;
};
TimerRegistry& Timers() {
    static TimerRegistry* r = new TimerRegistry;
    return *r;
}
std::atomic<UINT_PTR> gNextTimerId{0x4E455400};
// Serials of id claims: never reused, so a claim names one owner's hold of an id.
std::atomic<uint64_t> gNextClaim{0};

thread_local uint8_t tReportMode = 0;

void Report(const std::exception& E, const std::string& where) {
    switch (tReportMode) {
        case 1:
            if (framework::Application().OnException) framework::Application().OnException(E);
            break;
        case 2: {
            std::string text = where.empty() ? std::string(E.what()) : where + ": " + E.what();
            MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONERROR);
            break;
        }
        default: break;
    }
}

}  // namespace

LRESULT CALLBACK InetHiddenWindowProc(HWND wnd, UINT msg, WPARAM w, LPARAM l);

TInetWndHandlerPool& InetWndHandlerPool() {
    // Made once (thread-safe static initialisation) and kept for the process: windows of
    // other threads may outlive any static destructor.
    static TInetWndHandlerPool* pool = new TInetWndHandlerPool;
    return *pool;
}

int InetHiddenWindowCount() {
    TInetLock lock(ClassLock());
    return gWindowCount;
}

uint8_t& InetBgExceptionReportMode() { return tReportMode; }

namespace {
// A registered message, raising E with the system's text when the name cannot be registered.
template <typename E>
UINT RegisteredMessage(const char* Name) {
    const UINT m = RegisterWindowMessageA(Name);
    if (!m) throw E(framework::SysErrorMessage(GetLastError()));
    return m;
}
}  // namespace

UINT InetIdFreedMessage() {
    static const UINT msg = RegisteredMessage<EInetException>("InetWndControlIdFreed");
    return msg;
}

UINT InetSentResultMessage() {
    static const UINT msg = RegisteredMessage<EInetException>("InetWndControlSentResult");
    return msg;
}

UINT InetAsyncTaskMessage() {
    static const UINT msg = RegisteredMessage<EInetException>("InetWndControlAsyncTask");
    return msg;
}

UINT InetPostedResultMessage() {
    static const UINT msg = RegisteredMessage<EInetException>("InetWndControlPostedResult");
    return msg;
}

UINT InetThreadTimerMessage() {
    static const UINT msg = RegisteredMessage<EInetTimerException>("QUARLINE_INET_THREAD_TIMER");
    return msg;
}

// ---- TInetWndHandlerPool --------------------------------------------------------------------

TInetWndHandler* TInetWndHandlerPool::HandlerForThread(int IdsNeeded, DWORD OwnerThread) {
    if (IdsNeeded > MessageIdsPerHandler) throw EInetException("INET message IDs out of bounds!");
    TInetLock lock(cs_);
    TInetWndHandlerList* list = nullptr;
    for (auto it = lists_.rbegin(); it != lists_.rend(); ++it)
        if ((*it)->OwnerThread == OwnerThread) {
            list = *it;
            break;
        }
    if (!list) {
        list = new TInetWndHandlerList;
        list->OwnerThread = OwnerThread;
        lists_.push_back(list);
    }
    for (TInetWndHandler* h : list->Handlers)
        if (h->FreeIdCount() >= IdsNeeded) return h;
    auto* h = new TInetWndHandler;
    h->ParentList = list;
    // Every window uses the same range: ids are unique per window, not per process.
    if (gMsgLowSeed <= 1024 || gMsgLowSeed >= 65535 - 100) gMsgLowSeed = WM_USER + 1;
    h->MsgLow = gMsgLowSeed;
    list->Handlers.push_back(h);
    return h;
}

void TInetWndHandlerPool::ReleaseHandler(TInetWndHandler*& Handler) {
    if (!Handler) return;
    TInetLock lock(cs_);
    if (TInetWndHandlerList* list = Handler->ParentList) {
        auto& hs = list->Handlers;
        hs.erase(std::remove(hs.begin(), hs.end(), Handler), hs.end());
        if (hs.empty()) {
            lists_.erase(std::remove(lists_.begin(), lists_.end(), list), lists_.end());
            delete list;
        }
    }
    Handler->ParentList = nullptr;
    Handler->DestroyHiddenWnd();
    // Inside its own window procedure the handler stays until that returns.
    if (Handler->dispatchDepth_ > 0)
        Handler->deletePending_ = true;
    else
        delete Handler;
    Handler = nullptr;
}

// ---- TInetWndHandler ------------------------------------------------------------------------

TInetWndHandler::~TInetWndHandler() {
    DestroyHiddenWnd();
    magic_ = 0;
}

UINT TInetWndHandler::ClaimMessageId(TInetWndControl* Control) {
    if (MsgLow < 1024) throw EInetException("MsgLow not defined");
    if (OwnersUsed >= MessageIdsPerHandler) throw EInetException("No more free message");
    for (int i = 0; i < MessageIdsPerHandler; ++i)
        if (!Owners[i]) {
            Owners[i] = Control;
            claims_[i] = ++gNextClaim;
            ++OwnersUsed;
            return MsgLow + UINT(i);
        }
    throw EInetException("No more free message");
}

void TInetWndHandler::FreeMessageId(UINT& Id) {
    if (Id == 0) return;
    if (MsgLow <= 1023) throw EInetException("MsgLow not defined");
    if (Id < MsgLow || Id >= MsgLow + MessageIdsPerHandler) throw EInetException("Msg value out of bound");
    const int index = int(Id - MsgLow);
    if (!Owners[index]) throw EInetException("Msg not registered");
    Owners[index] = nullptr;
    claims_[index] = 0;
    DropClaimsOf(index);
    --OwnersUsed;
    if (Wnd && OwnersUsed > 0) {
        // A message posted before the id was freed must not reach the id's next owner. It
        // is not swept out of the queue here: any PeekMessage (under Wine whatever its
        // filter) first runs the messages other threads sent to this one, which would run
        // user code inside this release and under the pool lock. A marker posted behind
        // the stale messages instead: until it comes through, posted messages of the id
        // are dropped. (The last id takes the window, and its queue, with it.)
        if (PostMessageA(Wnd, InetIdFreedMessage(), WPARAM(index), 0)) ++staleMarkers_[index];
    }
    Id = 0;
    if (OwnersUsed == 0) DestroyHiddenWnd();
}

uint64_t TInetWndHandler::IdClaim(UINT Id) const {
    if (Id < MsgLow || Id >= MsgLow + MessageIdsPerHandler || !Owners[Id - MsgLow]) return 0;
    return claims_[Id - MsgLow];
}

void TInetWndHandler::DropClaimsOf(int Index) {
    // Their claim is over: a result that still comes finds no entry and goes nowhere.
    const UINT id = MsgLow + UINT(Index);
    TInetLock lock(InetWndHandlerPool().Section());
    for (auto it = tasks_.begin(); it != tasks_.end();)
        it = it->second.Id == id ? tasks_.erase(it) : std::next(it);
    DropPosted(id);
}

void TInetWndHandler::DropPosted(UINT Id) {
    TInetLock lock(InetWndHandlerPool().Section());
    for (auto it = posted_.begin(); it != posted_.end();)
        it = it->second.Target.Id == Id ? posted_.erase(it) : std::next(it);
}

void TInetWndHandler::ExpectTask(HANDLE Task, UINT Id) {
    if (!Task) return;
    TInetLock lock(InetWndHandlerPool().Section());
    tasks_[UINT_PTR(Task)] = TInetSentTarget{Id, IdClaim(Id)};
}

void TInetWndHandler::ForgetTask(HANDLE Task) {
    TInetLock lock(InetWndHandlerPool().Section());
    tasks_.erase(UINT_PTR(Task));
}

bool TInetWndHandler::PostClaimed(UINT Id, WPARAM W, LPARAM L) {
    TInetLock lock(InetWndHandlerPool().Section());
    if (!Wnd || IdClaim(Id) == 0) return false;
    const UINT_PTR ticket = ++nextTicket_;
    posted_[ticket] = TPostedResult{TInetSentTarget{Id, IdClaim(Id)}, W, L};
    if (PostMessageA(Wnd, InetPostedResultMessage(), WPARAM(ticket), 0)) return true;
    posted_.erase(ticket);
    return false;
}

size_t TInetWndHandler::ClaimedCount() const {
    TInetLock lock(InetWndHandlerPool().Section());
    return tasks_.size() + posted_.size();
}

void TInetWndHandler::DeliverClaimed(const TInetSentTarget& Target, WPARAM W, LPARAM L, framework::TMessage& Msg) {
    const uint64_t claim = IdClaim(Target.Id);
    if (claim == 0 || claim != Target.Claim) return;
    framework::TMessage m{Target.Id, W, L, 0};
    Owners[Target.Id - MsgLow]->WndProc(m);
    Msg.Result = m.Result;
}

void TInetWndHandler::FreeIdsOf(TInetWndControl* Control) {
    for (int i = 0; i < MessageIdsPerHandler; ++i)
        if (Owners[i] == Control) {
            UINT id = MsgLow + UINT(i);
            FreeMessageId(id);
        }
}

void TInetWndHandler::CreateHiddenWnd() {
    if (Wnd) return;
    HINSTANCE inst = GetModuleHandleA(nullptr);
    TInetLock lock(ClassLock());
    WNDCLASSA existing{};
    if (!GetClassInfoA(inst, kClassName, &existing)) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = InetHiddenWindowProc;
        wc.cbWndExtra = sizeof(LONG_PTR);
        wc.hInstance = inst;
        wc.lpszClassName = kClassName;
        if (!RegisterClassA(&wc))
            throw EInetException("Unable to register TInetWndControl hidden window class. Error: " +
                                 framework::SysErrorMessage(GetLastError()));
    }
    HWND wnd = CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
    if (!wnd)
        throw EInetException("Unable to create TInetWndControl hidden window.  Error: " +
                             framework::SysErrorMessage(GetLastError()));
    SetWindowLongPtrA(wnd, 0, reinterpret_cast<LONG_PTR>(this));
    Wnd = wnd;
    ++gWindowCount;
}

void TInetWndHandler::DestroyHiddenWnd() {
    if (!Wnd) return;
    std::fill(std::begin(Owners), std::end(Owners), nullptr);
    std::fill(std::begin(staleMarkers_), std::end(staleMarkers_), 0);
    std::fill(std::begin(claims_), std::end(claims_), 0);
    {
        TInetLock lock(InetWndHandlerPool().Section());
        tasks_.clear();
        posted_.clear();
    }
    OwnersUsed = 0;
    HWND wnd = Wnd;
    Wnd = nullptr;
    SetWindowLongPtrA(wnd, 0, 0);
    DestroyWindow(wnd);
    TInetLock lock(ClassLock());
    if (--gWindowCount == 0) UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
}

void TInetWndHandler::Dispatch(HWND wnd, framework::TMessage& Msg) {
    if (Msg.Msg == InetIdFreedMessage() && Msg.WParam < WPARAM(MessageIdsPerHandler)) {
        if (staleMarkers_[Msg.WParam] > 0) --staleMarkers_[Msg.WParam];
        return;
    }
    if (Msg.Msg == InetSentResultMessage()) {
        // Only sent (the target lives while the sender waits), and only for the claim it
        // names: the id may have a new owner since the request was made.
        const auto* target = reinterpret_cast<const TInetSentTarget*>(Msg.WParam);
        if (target && InSendMessage()) DeliverClaimed(*target, Msg.WParam, Msg.LParam, Msg);
        return;
    }
    if (Msg.Msg == InetAsyncTaskMessage() || Msg.Msg == InetPostedResultMessage()) {
        // The table says whom the result is for; an entry is used once.
        TInetSentTarget target;
        WPARAM w = Msg.WParam;
        LPARAM l = Msg.LParam;
        {
            TInetLock lock(InetWndHandlerPool().Section());
            if (Msg.Msg == InetAsyncTaskMessage()) {
                auto it = tasks_.find(UINT_PTR(Msg.WParam));
                if (it == tasks_.end()) return;
                target = it->second;
                tasks_.erase(it);
            } else {
                auto it = posted_.find(UINT_PTR(Msg.WParam));
                if (it == posted_.end()) return;
                target = it->second.Target;
                w = it->second.W;
                l = it->second.L;
                posted_.erase(it);
            }
        }
        DeliverClaimed(target, w, l, Msg);
        return;
    }
    if (Msg.Msg >= MsgLow && Msg.Msg < MsgLow + MessageIdsPerHandler) {
        // Posted before its id was freed (the marker is still behind it): not for the owner
        // the id may have now. Messages other threads send never queue behind a marker.
        if (staleMarkers_[Msg.Msg - MsgLow] > 0 && !InSendMessage()) return;
        if (TInetWndControl* c = Owners[Msg.Msg - MsgLow]) {
            c->WndProc(Msg);
            return;
        }
    }
    if (MessageHook) {
        auto hook = MessageHook;  // the hook may replace itself
        bool handled = false;
        hook(this, Msg, handled);
        if (handled) return;
    }
    const bool windowTimer = Msg.Msg == WM_TIMER;
    const bool threadTimer = !windowTimer && Msg.Msg == InetThreadTimerMessage();
    if (windowTimer || threadTimer) {
        TInetTimer* timer = nullptr;
        {
            TimerRegistry& r = Timers();
            TInetLock lock(r.cs);
            auto it = r.timers.find(windowTimer ? UINT_PTR(Msg.WParam) : UINT_PTR(Msg.LParam));
            if (it != r.timers.end() && it->second->IsThreadTimer() == threadTimer &&
                (threadTimer || it->second->armedWnd_ == wnd))
                timer = it->second;
        }
        // Timers are freed on their owner's thread, which is this one: still alive here.
        if (timer) timer->TimerFired(Msg);
        return;
    }
    Msg.Result = DefWindowProcA(wnd, Msg.Msg, Msg.WParam, Msg.LParam);
}

void TInetWndHandler::ReportEscaped(const std::exception& E) {
    bool canClose = true;
    if (HandlerBgException) {
        auto handler = HandlerBgException;
        try {
            handler(this, E, canClose);
        } catch (...) {
        }
    } else {
        Report(E, "TInetWndHandler");
    }
}

LRESULT CALLBACK InetHiddenWindowProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    auto* h = reinterpret_cast<TInetWndHandler*>(GetWindowLongPtrA(wnd, 0));
    if (!h || h->magic_ != 0x494E4554) return DefWindowProcA(wnd, msg, w, l);
    ++h->dispatchDepth_;
    framework::TMessage m{msg, w, l, 0};
    try {
        h->Dispatch(wnd, m);
    } catch (const std::exception& e) {
        h->ReportEscaped(e);
    } catch (...) {
        h->ReportEscaped(framework::Exception("Unknown exception"));
    }
    const LRESULT result = m.Result;
    if (--h->dispatchDepth_ == 0 && h->deletePending_) delete h;
    return result;
}

// ---- TInetWndControl ------------------------------------------------------------------------

TInetWndControl::TInetWndControl(framework::TComponent* Owner)
    : framework::TComponent(Owner), alive_(std::make_shared<bool>(true)) {
    InetWndHandlerPool();
}

TInetWndControl::~TInetWndControl() { BeginDestroy(); }

void TInetWndControl::BeginDestroy() {
    *alive_ = false;
    MarkDestroying();
    try {
        ReleaseWindowOnce();
    } catch (...) {
        // A destructor has nobody to report to; the ids are gone with the handler anyway.
    }
}

HWND TInetWndControl::GetHandle() {
    if (!windowHandle_) AllocateHiddenWindow();
    return windowHandle_;
}

bool TInetWndControl::PostToId(UINT Id, WPARAM W, LPARAM L) {
    return handlerRef_ && windowHandle_ && handlerRef_->PostClaimed(Id, W, L);
}

bool TInetWndControl::GetTerminated() { return terminated_ || framework::Application().Terminated(); }

void TInetWndControl::ReleaseWindowOnce() {
    if (windowGone_) return;
    windowGone_ = true;
    ReleaseHiddenWindow();
}

void TInetWndControl::AllocateHiddenWindow() {
    if (windowHandle_) return;
    if (gUnitFinalized) throw EInetException("Unit is already finalized, check your threads!!!");
    TInetWndHandlerPool& pool = InetWndHandlerPool();
    ownerThread_ = GetCurrentThreadId();
    TInetLock lock(pool.Section());
    try {
        if (!handlerRef_) handlerRef_ = pool.HandlerForThread(MessageIdCount(), ownerThread_);
        handlerRef_->CreateHiddenWnd();
        windowHandle_ = handlerRef_->Wnd;
        TakeMessageIds();
    } catch (...) {
        if (handlerRef_) {
            handlerRef_->FreeIdsOf(this);
            if (handlerRef_->OwnersUsed == 0) pool.ReleaseHandler(handlerRef_);
        }
        handlerRef_ = nullptr;
        windowHandle_ = nullptr;
        ownerThread_ = 0;
        throw;
    }
}

void TInetWndControl::ReleaseHiddenWindow() {
    if (!windowHandle_) return;
    // Window timers of this component die with its ids, whether or not the window stays.
    {
        TimerRegistry& r = Timers();
        std::vector<TInetTimer*> mine;
        {
            TInetLock lock(r.cs);
            for (auto& [id, t] : r.timers)
                if (t->ownerControl_ == this) mine.push_back(t);
        }
        for (TInetTimer* t : mine) t->KillSystemTimer();
    }
    TInetWndHandlerPool& pool = InetWndHandlerPool();
    TInetLock lock(pool.Section());
    if (handlerRef_) {
        try {
            ReturnMessageIds();
        } catch (...) {
            handlerRef_->FreeIdsOf(this);
            windowHandle_ = nullptr;
            if (handlerRef_->OwnersUsed == 0) pool.ReleaseHandler(handlerRef_);
            handlerRef_ = nullptr;
            ownerThread_ = 0;
            throw;
        }
        // Ids a layer did not return (its destructor had already run) go too.
        handlerRef_->FreeIdsOf(this);
        if (handlerRef_->OwnersUsed == 0) pool.ReleaseHandler(handlerRef_);
    }
    windowHandle_ = nullptr;
    handlerRef_ = nullptr;
    ownerThread_ = 0;
}

void TInetWndControl::TakeMessageIds() { idRelease_ = handlerRef_->ClaimMessageId(this); }

void TInetWndControl::ReturnMessageIds() { handlerRef_->FreeMessageId(idRelease_); }

void TInetWndControl::WndProc(framework::TMessage& Msg) {
    const TFireWatch watch(*this);
    try {
        if (Msg.Msg == idRelease_) {
            FreeSelf();
            return;
        }
        Msg.Result = DefWindowProcA(windowHandle_, Msg.Msg, Msg.WParam, Msg.LParam);
    } catch (const std::exception& e) {
        if (watch.Alive()) HandleBgException(e, "TInetWndControl.WndProc");
    }
}

void TInetWndControl::HandleBgException(const std::exception& E, const std::string& MethodName) {
    if (dynamic_cast<const EAbort*>(&E)) return;
    bool canClose = true;
    const bool handled = static_cast<bool>(onBgException_);
    // A handler that freed the component or set it to other work has dealt with it.
    bool held = true;
    if (handled) {
        try {
            held = Fired([&] { TriggerBgException(E, canClose); });
        } catch (...) {
        }
    }
    if (!held) return;
    if (canClose) {
        try {
            held = FireEvent(AbortNotify, E);
        } catch (...) {
        }
        if (!held) return;
        try {
            AbortAfterException(E);
        } catch (...) {
        }
    }
    if (!handled) Report(E, MethodName);
}

void TInetWndControl::TriggerBgException(const std::exception& E, bool& CanClose) {
    (void)FireEvent(onBgException_, this, E, CanClose);
}

void TInetWndControl::FreeSelf() { delete this; }

void TInetWndControl::ReleaseLater() {
    if (windowHandle_) PostMessageA(windowHandle_, idRelease_, 0, 0);
}

namespace {
std::vector<TInetTimer*> TimersOf(const TInetWndControl* Control) {
    TimerRegistry& r = Timers();
    std::vector<TInetTimer*> mine;
    TInetLock lock(r.cs);
    for (auto& [id, t] : r.timers)
        if (t->OwnerControl() == Control) mine.push_back(t);
    return mine;
}
}  // namespace

void TInetWndControl::AttachToThread() {
    if (windowHandle_) throw EInetException("Cannot attach when not detached");
    AllocateHiddenWindow();
    // Timers left armed at the move tick on here now, each with its whole interval.
    for (TInetTimer* t : TimersOf(this))
        if (t->Enabled()) t->UpdateTimer();
}

void TInetWndControl::DetachFromThread() {
    if (GetCurrentThreadId() != ownerThread_) throw EInetException("Cannot detach from another thread");
    // No tick while detached: it would reach the old thread. Enabled stays as it was.
    for (TInetTimer* t : TimersOf(this)) t->Disarm();
    ReleaseHiddenWindow();
}

void TInetWndControl::RunMessageLoop() {
    MSG msg;
    while (!GetTerminated() && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    SetTerminated(true);
}

bool TInetWndControl::PumpOneMessage() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        SetTerminated(true);
        return true;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

void TInetWndControl::PumpAllMessages() {
    while (PumpOneMessage()) {
    }
}

void TInetWndControl::PumpMessages() {
    if (pumpHook_) {
        (void)FireEvent(pumpHook_, this);
    } else if (multiThreaded_) {
        PumpAllMessages();
    } else {
        framework::Application().ProcessMessages();
    }
}

// ---- TInetTimer -----------------------------------------------------------------------------

namespace {
TInetWndControl* RequireOwner(TInetWndControl* owner) {
    if (!owner) throw EInetTimerException("Owner not assigned");
    return owner;
}
}  // namespace

TInetTimer::TInetTimer(TInetWndControl* Owner)
    : framework::TComponent(RequireOwner(Owner)), ownerControl_(Owner), timerId_(++gNextTimerId) {
    // The owner may go first: we hear of it and forget it.
    FreeNotification(Owner);
    TimerRegistry& r = Timers();
    TInetLock lock(r.cs);
    r.timers[timerId_] = this;
}

TInetTimer::~TInetTimer() {
    {
        TimerRegistry& r = Timers();
        TInetLock lock(r.cs);
        r.timers.erase(timerId_);
    }
    enabled_ = false;
    KillSystemTimer();
}

void TInetTimer::Notification(framework::TComponent* Component, framework::TOperation Operation) {
    if (Operation == framework::TOperation::opRemove && Component == ownerControl_) {
        KillSystemTimer();
        ownerControl_ = nullptr;
    }
}

void TInetTimer::Disarm() { KillSystemTimer(); }

void TInetTimer::KillSystemTimer() {
    if (armedWnd_) {
        KillTimer(armedWnd_, timerId_);
        armedWnd_ = nullptr;
    }
}

void TInetTimer::RequireWindow() {
    if (!ownerControl_ || ownerControl_->OwnerThread() == 0) throw EInetTimerException("No window available");
}

void TInetTimer::SetEnabled(bool Value) {
    if (Value == enabled_) return;
    RequireWindow();
    enabled_ = Value;
    UpdateTimer();
}

void TInetTimer::SetInterval(uint32_t Value) {
    if (Value == interval_) return;
    RequireWindow();
    interval_ = Value;
    UpdateTimer();
}

void TInetTimer::SetOnTimer(framework::TNotifyEvent Value) {
    RequireWindow();
    onTimer_ = std::move(Value);
    UpdateTimer();
}

void TInetTimer::UpdateTimer() {
    KillSystemTimer();
    if (interval_ == 0 || !enabled_ || !onTimer_ || !ownerControl_) return;
    HWND wnd = ownerControl_->WindowHandle();
    if (!wnd || !SetTimer(wnd, timerId_, interval_, nullptr)) {
        enabled_ = false;
        throw EInetTimerException("No more timers");
    }
    armedWnd_ = wnd;
    lastArmTick_ = GetTickCount();
}

void TInetTimer::TimerFired(framework::TMessage& Msg) {
    if (onTimer_) {
        auto handler = onTimer_;  // the handler may free this timer, and its own storage
        handler(this);
    }
}
