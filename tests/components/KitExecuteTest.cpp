// Captured command runs against a real console child (capture_child.exe, built beside the
// tests): line ends, merged and separate streams, exit codes, aborts by event, timer and flag,
// a child that cannot start, the pipes and the kernel-object wrappers.
#include "components/KitExecute.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/SysUtils.h"
#include "support/TempDir.h"

namespace {

std::string ChildPath() {
    return framework::ExtractFilePath(framework::GetModuleFileNameText(nullptr)) + "capture_child.exe";
}

std::string Child(const std::string& args) { return "\"" + ChildPath() + "\" " + args; }

// ---------------------------------------------------------------------------------------------
// Merged capture: what the child wrote, as the text the caller gets

TEST(ExecuteAndCapture, TextAndExitCodeAsTheChildWroteThem) {
    ASSERT_TRUE(framework::FileExists(ChildPath())) << ChildPath();
    struct Case {
        const char* args;
        bool raw;
        const char* expected;
        uint32_t exitCode;
    };
    const Case cases[] = {
        {"out:1\\n2", false, "1\r\n2", 0},
        {"out:1\\n2", true, "1\n2", 0},
        {"out:abc\\rz\\n", false, "z\r\n", 0},
        {"out:abc\\r\\n", false, "abc\r\n", 0},
        {"out:x\\r", false, "", 0},
        {"out:keep\\n out:x\\r", false, "keep\r\n", 0},
        {"out:50%\\r sleep:50 out:75%\\r sleep:50 out:done\\n", false, "done\r\n", 0},
        {"out:50%\\r out:done\\n", true, "50%\rdone\n", 0},
        {"out:abcdef\\rxy\\n", false, "xy\r\n", 0},
        // one pipe for both streams: the order the child wrote them in
        {"out:a\\n err:b\\n sleep:20 out:c\\n err:d", false, "a\r\nb\r\nc\r\nd", 0},
        {"exit:7", false, "", 7},
        {"out:bye exit:255", false, "bye", 255},
    };
    for (const Case& c : cases) {
        std::string output;
        const uint32_t code = ExecuteAndCapture(Child(c.args), output, c.raw, nullptr, 1);
        EXPECT_EQ(code, c.exitCode) << c.args;
        EXPECT_EQ(output, c.expected) << c.args << (c.raw ? " raw" : "");
    }
}

TEST(ExecuteAndCapture, LongOutputArrivesWholeAndIsAppended) {
    std::string output = "before|";
    EXPECT_EQ(ExecuteAndCapture(Child("long:20000"), output, true, nullptr, 1), 0u);
    ASSERT_EQ(output.size(), 7u + 20000u * 12u);  // "line 00001" CR LF is 12 bytes
    EXPECT_EQ(output.substr(0, 19), "before|line 00001\r\n");
    EXPECT_EQ(output.substr(output.size() - 12), "line 20000\r\n");
    for (size_t at = 7; at < output.size(); at += 12) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "line %05zu", (at - 7) / 12 + 1);
        ASSERT_EQ(output.compare(at, 10, expected), 0) << "at " << at;
    }
}

TEST(ExecuteAndCapture, APipeHeldOpenByAGrandchildEndsWithTheChild) {
    // The grandchild inherits the write end and outlives the child: the read still in flight
    // is cancelled, which is the end of the stream, not an error.
    std::string output;
    EXPECT_EQ(ExecuteAndCapture(Child("out:parent spawn:sleep:3000 exit:6"), output, false, nullptr, 1), 6u);
    EXPECT_EQ(output, "parent");
}

TEST(ExecuteAndCapture, ACommandThatCannotStartLeavesTheTextAndTheReason) {
    std::string output = "untouched";
    SetLastError(0);
    const uint32_t code = ExecuteAndCapture("Z:\\no\\such\\folder\\missing.exe /x", output, false, nullptr, 1);
    const DWORD error = GetLastError();
    EXPECT_EQ(code, kKitNoExitCode);
    EXPECT_EQ(output, "untouched");
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    output.clear();
    SetLastError(0);
    EXPECT_EQ(ExecuteAndCapture("missing_program_name_xyz.exe", output, false, nullptr, 1), kKitNoExitCode);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(ExecuteAndCapture, PriorityIndexPicksTheCreationClass) {
    // Wine's children always report normal priority, so only the choice is checked here.
    const DWORD classes[] = {IDLE_PRIORITY_CLASS,     NORMAL_PRIORITY_CLASS,       HIGH_PRIORITY_CLASS,
                             REALTIME_PRIORITY_CLASS, BELOW_NORMAL_PRIORITY_CLASS, ABOVE_NORMAL_PRIORITY_CLASS};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(KitPriorityClass(i), classes[i]) << i;
    EXPECT_EQ(KitPriorityClass(-1), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(KitPriorityClass(6), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    std::string output;
    EXPECT_EQ(ExecuteAndCapture(Child("out:idle"), output, false, nullptr, 0), 0u);
    EXPECT_EQ(output, "idle");
}

TEST(ExecuteAndCapture, TheApplicationNameIsTheProgramStarted) {
    // A folder with a blank: unquoted, Windows would try "<dir>Pro.exe" first.
    testsupport::TempDir dir;
    const std::string folder = dir.Path() + "Pro gram\\";
    ASSERT_TRUE(framework::ForceDirectories(folder));
    ASSERT_TRUE(CopyFileA(ChildPath().c_str(), (folder + "tool.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(ChildPath().c_str(), (dir.Path() + "Pro.exe").c_str(), FALSE));
    ASSERT_TRUE(framework::WriteFileBytes(folder + "tool.txt", "the tool"));
    ASSERT_TRUE(framework::WriteFileBytes(dir.Path() + "Pro.txt", "the wrong program"));

    std::string output;
    EXPECT_EQ(ExecuteAndCapture("\"" + folder + "tool.exe\" -ask", output, true, nullptr, 1, nullptr,
                                folder + "tool.exe"),
              0u);
    EXPECT_EQ(output, "the tool");
    // The name decides even when the command line's first word says otherwise.
    output.clear();
    EXPECT_EQ(ExecuteAndCapture("elsewhere.exe out:named", output, true, nullptr, 1, nullptr, folder + "tool.exe"), 0u);
    EXPECT_EQ(output, "named");
}

// ---------------------------------------------------------------------------------------------
// Separate streams and line callbacks

TEST(ExecuteCommand, SeparateStreamsGoToTheirOwnTexts) {
    std::string output, error;
    const uint32_t code = ExecuteCommand(Child("out:o1\\n err:e1\\n out:o2 err:e2\\r\\n exit:3"), nullptr, nullptr,
                                         output, nullptr, false, false, error, nullptr, false, 1);
    EXPECT_EQ(code, 3u);
    EXPECT_EQ(output, "o1\r\no2");
    EXPECT_EQ(error, "e1\r\ne2\r\n");
}

TEST(ExecuteCommand, CallbacksGetLinesWithoutTheirEnds) {
    struct Case {
        const char* args;
        bool raw;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"out:one\\r\\ntwo\\n", false, {"one", "two"}},
        // a progress line overwritten in place is muted unless raw; the rest without LF ends it
        {"out:one\\n out:prog\\r sleep:30 out:three", false, {"one", "three"}},
        {"out:one\\n out:prog\\r sleep:30 out:three", true, {"one", "prog", "three"}},
        {"out:a\\r\\r\\nb\\n", true, {"a", "", "b"}},
        {"out:tail\\r", false, {}},
        {"out:x\\n\\ny\\n", false, {"x", "", "y"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines, errLines;
        std::string output = "same", error = "same";
        ExecuteCommand(Child(c.args), nullptr, nullptr, output, [&](const std::string& l) { lines.push_back(l); },
                       c.raw, false, error, [&](const std::string& l) { errLines.push_back(l); }, c.raw, 1);
        EXPECT_EQ(lines, c.lines) << c.args << (c.raw ? " raw" : "");
        EXPECT_TRUE(errLines.empty()) << c.args;
        EXPECT_EQ(output, "same");
        EXPECT_EQ(error, "same");
    }
    std::vector<std::string> errLines;
    std::string output, error;
    ExecuteCommand(Child("err:first\\n err:second"), nullptr, nullptr, output, nullptr, false, false, error,
                   [&](const std::string& l) { errLines.push_back(l); }, false, 1);
    EXPECT_EQ(errLines, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(output, "");
}

TEST(ExecuteCommand, AnExceptionFromACallbackEndsTheChildAndPassesOn) {
    std::string output, error;
    EXPECT_THROW(ExecuteCommand(Child("out:boom\\n hang"), nullptr, nullptr, output,
                                [](const std::string&) { throw std::runtime_error("handler failed"); }, false, true,
                                error, nullptr, false, 1),
                 std::runtime_error);
}

// The handles this process holds, found by asking about each possible value (Wine answers
// GetProcessHandleCount with 0).
int OpenHandleCount() {
    int open = 0;
    DWORD flags = 0;
    for (uintptr_t v = 4; v < 0x4000; v += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &flags)) ++open;
    return open;
}

TEST(ExecuteCommand, EveryWayARunEndsGivesBackItsPipesEventsAndChildHandles) {
    enum class Ending { Normal, HandlerThrows, AbortFromHandler, CannotStart };
    struct Case {
        const char* name;
        const char* args;
        bool merge;
        Ending ending;
    };
    const Case cases[] = {
        {"merged", "out:a\\n err:b exit:3", true, Ending::Normal},
        {"separate", "out:a\\n err:b exit:3", false, Ending::Normal},
        {"output handler throws", "out:boom\\n hang", true, Ending::HandlerThrows},
        {"error handler throws", "err:boom\\n hang", false, Ending::HandlerThrows},
        {"abort from handler", "out:x\\n hang", false, Ending::AbortFromHandler},
        {"cannot start", "", false, Ending::CannotStart},
    };
    auto run = [](const Case& c) {
        TKitEvent abortEvent(nullptr, true, false, std::string());
        std::string output, error;
        TKitTextHandler onLine = [&](const std::string&) {
            if (c.ending == Ending::HandlerThrows) throw std::runtime_error("handler failed");
            if (c.ending == Ending::AbortFromHandler) abortEvent.SetEvent();
        };
        const std::string command =
            c.ending == Ending::CannotStart ? "Z:\\no\\such\\folder\\missing.exe" : Child(c.args);
        try {
            ExecuteCommand(command, nullptr, &abortEvent, output, onLine, false, c.merge, error, onLine, false, 1);
        } catch (const std::runtime_error&) {
            EXPECT_EQ(c.ending, Ending::HandlerThrows) << c.name;
        }
    };
    for (const Case& c : cases) {
        run(c);  // anything made once per process is made now
        const int before = OpenHandleCount();
        for (int i = 0; i < 3; ++i) run(c);
        EXPECT_EQ(OpenHandleCount(), before) << c.name;
    }
    // The reason a child could not start is still the last error after the clean-up.
    std::string output, error;
    SetLastError(0);
    ExecuteCommand("Z:\\no\\such\\folder\\missing.exe", nullptr, nullptr, output, nullptr, false, false, error,
                   nullptr, false, 1);
    const DWORD reason = GetLastError();
    EXPECT_TRUE(reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND) << reason;
}

// ---------------------------------------------------------------------------------------------
// Aborts

TEST(ExecuteCommand, AnAbortEventSignalledElsewhereEndsTheChildWith1223) {
    TKitEvent abortEvent(nullptr, true, false, std::string());
    std::thread signaller([&] {
        Sleep(200);
        abortEvent.SetEvent();
    });
    std::string output, error;
    std::atomic<bool> aborted{false};
    const uint32_t code = ExecuteCommand(Child("out:started\\n hang"), &aborted, &abortEvent, output, nullptr, false,
                                         true, error, nullptr, false, 1);
    signaller.join();
    EXPECT_EQ(code, static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_TRUE(aborted);
    EXPECT_EQ(output, "started\r\n");  // what came before the abort is kept
}

TEST(ExecuteCommand, AnEventSetBeforeTheRunIsResetFirst) {
    TKitEvent abortEvent(nullptr, true, true, std::string());
    std::string output, error;
    EXPECT_EQ(ExecuteCommand(Child("sleep:100 out:ran exit:5"), nullptr, &abortEvent, output, nullptr, false, false,
                             error, nullptr, false, 1),
              5u);
    EXPECT_EQ(output, "ran");
}

TEST(ExecuteCommand, AWaitableTimerBoundsAChildThatHangs) {
    TKitDispatcherObject timer(CreateWaitableTimerA(nullptr, TRUE, nullptr));
    ASSERT_NE(timer.Handle(), nullptr);
    LARGE_INTEGER due;
    due.QuadPart = -3000000;  // 300 ms, relative
    ASSERT_TRUE(SetWaitableTimer(timer.Handle(), &due, 0, nullptr, nullptr, FALSE));
    std::string output;
    std::atomic<bool> aborted{false};
    EXPECT_EQ(ExecuteAndCapture(Child("out:partial hang"), output, false, &aborted, 1, &timer),
              static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_TRUE(aborted);
    EXPECT_EQ(output, "partial");
}

std::atomic<bool>* apcFlag = nullptr;
int apcRuns = 0;
void CALLBACK SetFlagApc(ULONG_PTR) {
    ++apcRuns;
    if (apcFlag) *apcFlag = true;
}

TEST(ExecuteCommand, AnApcDuringTheWaitWaitsAgainAndTheFlagIsLookedAt) {
    // The wait is alertable: an APC queued to this thread runs inside it. With no flag set the
    // run goes on to the child's end.
    apcFlag = nullptr;
    apcRuns = 0;
    ASSERT_TRUE(QueueUserAPC(SetFlagApc, GetCurrentThread(), 0));
    std::string output;
    EXPECT_EQ(ExecuteAndCapture(Child("sleep:100 out:after exit:4"), output, false, nullptr, 1), 4u);
    EXPECT_EQ(apcRuns, 1);
    EXPECT_EQ(output, "after");

    // A flag set from elsewhere (here by the APC, as another thread would) aborts the run at
    // the next wake-up.
    std::atomic<bool> abort{false};
    apcFlag = &abort;
    ASSERT_TRUE(QueueUserAPC(SetFlagApc, GetCurrentThread(), 0));
    output.clear();
    EXPECT_EQ(ExecuteAndCapture(Child("hang"), output, false, &abort, 1), static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_EQ(apcRuns, 2);
    apcFlag = nullptr;
}

// A flooding child keeps the output event signalled at every wake-up; these runs must still
// end by their abort. The watchdog only keeps a faulty build from hanging the suite: it sets
// the flag (looked at after every wake-up) and the test then fails.
class Watchdog {
public:
    explicit Watchdog(std::atomic<bool>& Flag) : thread_([this, &Flag] {
          if (WaitForSingleObject(done_.Handle(), 60000) == WAIT_TIMEOUT) {
              fired_ = true;
              Flag = true;
          }
      }) {}
    ~Watchdog() { Stop(); }
    // True when the run had to be stopped by the watchdog.
    bool Stop() {
        done_.SetEvent();
        if (thread_.joinable()) thread_.join();
        return fired_;
    }

private:
    TKitEvent done_{nullptr, true, false, std::string()};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

TEST(ExecuteCommand, AHandlerThatSignalsTheAbortEndsAFloodingChildAtOnce) {
    // The handler sets the abort event from inside the read that delivered the line: only the
    // rest of that read and the one read in flight (cancelled and delivered by the final
    // drain) may follow, however full the pipe is.
    TKitEvent abortEvent(nullptr, true, false, std::string());
    std::atomic<bool> aborted{false};
    Watchdog watchdog(aborted);
    int lines = 0, afterAbort = 0;
    std::string output, error;
    const uint32_t code = ExecuteCommand(Child("flood"), &aborted, &abortEvent, output,
                                         [&](const std::string&) {
                                             if (++lines == 500) abortEvent.SetEvent();
                                             else if (lines > 500) ++afterAbort;
                                         },
                                         false, true, error, nullptr, false, 1);
    EXPECT_FALSE(watchdog.Stop());
    EXPECT_EQ(code, static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_TRUE(aborted);
    EXPECT_LE(afterAbort, 2 * (255 / 12 + 1) + 1) << "lines delivered after the abort";
}

TEST(ExecuteCommand, AWaitableTimerEndsAFloodingChild) {
    TKitDispatcherObject timer(CreateWaitableTimerA(nullptr, TRUE, nullptr));
    ASSERT_NE(timer.Handle(), nullptr);
    LARGE_INTEGER due;
    due.QuadPart = -3000000;  // 300 ms, relative
    ASSERT_TRUE(SetWaitableTimer(timer.Handle(), &due, 0, nullptr, nullptr, FALSE));
    std::atomic<bool> aborted{false};
    Watchdog watchdog(aborted);
    std::string output;
    EXPECT_EQ(ExecuteAndCapture(Child("flood"), output, true, &aborted, 1, &timer),
              static_cast<uint32_t>(ERROR_CANCELLED));
    EXPECT_FALSE(watchdog.Stop()) << "the timer never ended the run";
    EXPECT_EQ(output.compare(0, 12, "line 00000\r\n"), 0);
}

TEST(ExecuteCommand, AFloodingGrandchildNeitherHoldsTheRunNorOutlivesIt) {
    // The child leaves a grandchild behind that inherited the pipe's write end and keeps it
    // full. The final drain stops at the abort timer; once the run has closed its read end the
    // grandchild's writes fail and it ends, which it cannot while it holds a read end itself.
    TKitDispatcherObject timer(CreateWaitableTimerA(nullptr, TRUE, nullptr));
    ASSERT_NE(timer.Handle(), nullptr);
    LARGE_INTEGER due;
    // Well after the child's end (300 ms after its start) even on a loaded machine: the exit
    // code must be the child's, not the abort's.
    due.QuadPart = -20000000;  // 2 s, relative
    ASSERT_TRUE(SetWaitableTimer(timer.Handle(), &due, 0, nullptr, nullptr, FALSE));
    std::atomic<bool> aborted{false};
    Watchdog watchdog(aborted);
    std::string output;
    EXPECT_EQ(ExecuteAndCapture(Child("\"spawn:pid flood\" sleep:300 exit:4"), output, true, &aborted, 1, &timer), 4u);
    EXPECT_FALSE(watchdog.Stop()) << "the drain never ended";
    ASSERT_EQ(output.compare(0, 4, "pid:"), 0) << output.substr(0, 40);
    const DWORD pid = static_cast<DWORD>(std::stoul(output.substr(4, output.find('\n') - 4)));
    HANDLE grandchild = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!grandchild) return;  // already gone
    const bool ended = WaitForSingleObject(grandchild, 20000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(grandchild, 1);
    DWORD code = 0;
    GetExitCodeProcess(grandchild, &code);
    CloseHandle(grandchild);
    EXPECT_TRUE(ended) << "the grandchild still writes into a pipe nobody reads";
    if (ended) {
        EXPECT_EQ(code, 90u);
    }
}

// ---------------------------------------------------------------------------------------------
// Line-end conversion, pipes, kernel objects

TEST(CapturedLineEnds, OverwrittenLinesAreMuted) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"abc\rz\n", "z\r\n"},  {"abc\r\n", "abc\r\n"}, {"x\r", ""},           {"1\n2", "1\r\n2"},
        {"a\n\nb", "a\r\n\r\nb"}, {"", ""},            {"\n", "\r\n"},         {"ab\rc", "c"},
        {"one\rtwo\rthree\n", "three\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(ConvertCapturedLineEnds(c.in), c.out) << c.in;
    // The output grows beyond the input's length (every LF becomes two characters).
    std::string many, expected;
    for (int i = 0; i < 3000; ++i) {
        many += "ab\n";
        expected += "ab\r\n";
    }
    EXPECT_EQ(ConvertCapturedLineEnds(many), expected);
}

TEST(OverlappedPipe, EachPipeHasItsOwnNameAndCarriesItsOwnBytes) {
    HANDLE r1 = nullptr, w1 = nullptr;
    SetLastError(0);
    EXPECT_FALSE(OpenOverlappedPipe(nullptr, &w1, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(OpenOverlappedPipe(&r1, nullptr, nullptr, 0));

    // Two pipes open at once (one instance each): their names cannot be the same.
    HANDLE r2 = nullptr, w2 = nullptr;
    ASSERT_TRUE(OpenOverlappedPipe(&r1, &w1, nullptr, 0));
    ASSERT_TRUE(OpenOverlappedPipe(&r2, &w2, nullptr, 16));
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(w1, "first", 5, &done, nullptr));
    DWORD available1 = 0, available2 = 0;
    ASSERT_TRUE(PeekNamedPipe(r1, nullptr, 0, nullptr, &available1, nullptr));
    ASSERT_TRUE(PeekNamedPipe(r2, nullptr, 0, nullptr, &available2, nullptr));
    EXPECT_EQ(available1, 5u);
    EXPECT_EQ(available2, 0u);

    // The read end is overlapped: a read with no data stays pending.
    OVERLAPPED ov{};
    TKitEvent ev(nullptr, true, false, std::string());
    ov.hEvent = ev.Handle();
    char buf[8];
    EXPECT_FALSE(ReadFile(r2, buf, sizeof buf, nullptr, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    ASSERT_TRUE(WriteFile(w2, "xy", 2, &done, nullptr));
    EXPECT_EQ(ev.WaitTimed(5000), TKitWaitResult::wrSignaled);
    ASSERT_TRUE(GetOverlappedResult(r2, &ov, &done, FALSE));
    EXPECT_EQ(std::string(buf, done), "xy");
    // Closing the write end ends the stream with a broken pipe.
    CloseHandle(w2);
    EXPECT_FALSE(ReadFile(r2, buf, sizeof buf, nullptr, &ov) && GetOverlappedResult(r2, &ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    for (HANDLE h : {r1, w1, r2}) CloseHandle(h);
}

TEST(KitEvent, NamedEventsKnowWhetherTheyExistedAndFailuresRaise) {
    const std::string name = "VoltAtlasKitEventTest." + std::to_string(GetCurrentProcessId());
    TKitEvent first(nullptr, true, false, name);
    EXPECT_FALSE(first.Existed());
    EXPECT_EQ(first.Name(), name);
    TKitEvent second(nullptr, true, false, name);
    EXPECT_TRUE(second.Existed());
    EXPECT_TRUE(second.SetEvent());
    EXPECT_EQ(first.WaitTimed(0), TKitWaitResult::wrSignaled);
    EXPECT_TRUE(first.ResetEvent());
    EXPECT_EQ(second.WaitTimed(0), TKitWaitResult::wrTimeout);

    TKitEvent unnamed(nullptr, false, true, std::string());
    EXPECT_FALSE(unnamed.Existed());
    EXPECT_EQ(unnamed.WaitInfinite(), TKitWaitResult::wrSignaled);
    EXPECT_EQ(unnamed.WaitTimed(0), TKitWaitResult::wrTimeout);  // auto-reset

    try {
        TKitEvent bad(nullptr, true, false, "No\\Such\\Namespace\\Event");
        ADD_FAILURE() << "no exception";
    } catch (const EKitEventError& e) {
        EXPECT_NE(std::string(e.what()).find("Failed to create event"), std::string::npos) << e.what();
        EXPECT_NE(e.LastError, 0u);
    }
}

TEST(KitDispatcherObject, WaitResultsAndWaitingOnSeveral) {
    // A mutex whose owner thread ended without releasing it is abandoned.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(mutex, nullptr);
    TKitDispatcherObject owned(mutex);
    EXPECT_TRUE(owned.Existed());
    std::thread([&] { WaitForSingleObject(mutex, INFINITE); }).join();
    EXPECT_EQ(owned.WaitTimed(1000), TKitWaitResult::wrAbandoned);
    ReleaseMutex(mutex);

    TKitEvent a(nullptr, true, false, std::string()), b(nullptr, true, false, std::string());
    EXPECT_EQ(KitWaitForMultipleObjects({&a, &b}, false, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    b.SetEvent();
    EXPECT_EQ(KitWaitForMultipleObjects({&a, &b}, false, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(KitWaitForMultipleObjects({&a, &b}, true, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    a.SetEvent();
    EXPECT_EQ(KitWaitForMultipleObjects({&a, &b}, true, 0), WAIT_OBJECT_0);

    TKitCriticalSection section;
    section.Enter();
    section.Enter();  // recursive on one thread
    section.Leave();
    section.Leave();
}

}  // namespace
