// The downloader against the maker's web server stand-in: a 2xx body replaces the saved file
// as a whole; an error page, a cut-off body, a refused certificate or no server at all keep
// the good copy (and leave no temporary file behind); a file that cannot be written is an
// Error line, not an exception.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "UpdatePeerUtil.h"
#include "framework/Streams.h"
#include "support/Pump.h"
#include "support/TempDir.h"
#include "update/FileGrabber.h"
#include "update/HttpCusto.h"
#include "update/MakerServer.h"

using testsupport::PumpUntil;
using updtest::Literal;
using updtest::LinesMatch;
using updtest::PeerBase;

namespace {

std::string ReadAll(const std::string& path) {
    framework::TMemoryStream m;
    return m.LoadFromFile(path) ? m.Bytes() : std::string("<missing>");
}

void WriteAll(const std::string& path, const std::string& data) {
    framework::TMemoryStream m;
    m.Write(data.data(), static_cast<int64_t>(data.size()));
    ASSERT_TRUE(m.SaveToFile(path));
}

// The names in a folder.
std::vector<std::string> FolderFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string n = fd.cFileName;
        if (n != "." && n != "..") names.push_back(n);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

const std::string kGoodIni = "[links]\r\nbattery=https://shop.example.test/battery\r\n";
const std::string kNewIni = "[links]\r\nbattery=https://shop.example.test/other\r\n";

class FileGrabberTest : public updtest::PeerTest {
protected:

    // Fetches the link file's path from Base into FileName and waits for the callback.
    void Fetch(TFileGrabber& grabber, const std::string& base, const std::string& fileName) {
        updtest::ServerBase server(base);
        int calls = 0;
        grabber.Download(MakerServerUrl(kLinkFilePath), fileName, nullptr, 7, 9, [&](TFileGrabber* sender) {
            ++calls;
            EXPECT_EQ(sender->Tag1, 7);
            EXPECT_EQ(sender->Tag2, 9);
        });
        ASSERT_TRUE(PumpUntil([&] { return calls > 0; }, 30000)) << base;
        testsupport::PumpFor(100);
        EXPECT_EQ(calls, 1);
    }

};

TEST_F(FileGrabberTest, A2xxBodyIsSavedExactly) {
    testsupport::TempDir dir;
    updtest::MemoryLog log;
    TFileGrabber grabber(&log.Log);
    const std::string file = dir.File("voltatlas.ini");
    Fetch(grabber, PeerBase("tls", "bytes512"), file);
    std::string expected;
    for (int i = 0; i < 512; ++i) expected += static_cast<char>(i & 0xFF);
    EXPECT_EQ(ReadAll(file), expected);
    EXPECT_EQ(updtest::PeerRequests().back(), "GET /bytes512/voltatlas/voltatlas.ini HTTP/1.1");
    EXPECT_TRUE(LinesMatch(log.Lines(), {R"(Info\tFile downloaded in \d+ms)"}));
    EXPECT_EQ(FolderFiles(dir.Path()), std::vector<std::string>{"voltatlas.ini"});

    // A newer file replaces it.
    log.Clear();
    Fetch(grabber, PeerBase("tls", "ini2"), file);
    EXPECT_EQ(ReadAll(file), kNewIni);
    EXPECT_EQ(FolderFiles(dir.Path()), std::vector<std::string>{"voltatlas.ini"});
}

TEST_F(FileGrabberTest, FailuresKeepTheGoodFile) {
    const std::string closedPort = updtest::ClosedPort();
    ASSERT_FALSE(closedPort.empty());
    const struct {
        const char* what;
        std::string base;
        std::string line;
    } cases[] = {
        {"error page", PeerBase("tls", "notfound"), "File download : Server error (404 Cause : Not Found)"},
        {"server error", PeerBase("tls", "servererror"),
         "File download : Server error (500 Cause : Internal Server Error)"},
        {"cut-off body", PeerBase("tls", "cut"),
         "File download : Server error (12 Cause : HTTP body incomplete (connection closed prematurely))"},
        {"certificate for another host", PeerBase("otherhost", "ini2"), "File download : Server error (7 Cause : SSL handshake failed"},
        {"no server", "https://127.0.0.1:" + closedPort, "File download : Server error (10061 Cause : "},
        {"oversized file", PeerBase("tls", "huge"),
         "File download : Server error (11 Cause : Abort on Exception: Reply larger than 1048576 bytes)"},
        // Never idle, never done: the whole request's limit ends it.
        {"trickling server", PeerBase("tls", "trickle"), "File download : Server error (8 Cause : Request aborted on timeout)"},
    };
    HttpRequestLimitMs = 5000;
    struct Restore {
        ~Restore() { HttpRequestLimitMs = 30000; }
    } restore;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        const std::string file = dir.File("voltatlas.ini");
        WriteAll(file, kGoodIni);
        updtest::MemoryLog log;
        TFileGrabber grabber(&log.Log);
        Fetch(grabber, c.base, file);
        EXPECT_EQ(ReadAll(file), kGoodIni);
        EXPECT_FALSE(grabber.Saved());
        EXPECT_EQ(FolderFiles(dir.Path()), std::vector<std::string>{"voltatlas.ini"});
        // The causes of socket errors are system texts: only their start is fixed.
        const bool whole = c.line.back() == ')';
        EXPECT_TRUE(LinesMatch(log.Lines(), {"Error\\t" + Literal(c.line) + (whole ? "" : ".*\\)")}));
    }
}

TEST_F(FileGrabberTest, NothingSavedWithoutAFileName) {
    testsupport::TempDir dir;
    updtest::MemoryLog log;
    TFileGrabber grabber(&log.Log);
    const DWORD cwdLength = GetCurrentDirectoryA(0, nullptr);
    std::string cwd(cwdLength, '\0');
    GetCurrentDirectoryA(cwdLength, cwd.data());
    cwd.resize(cwdLength - 1);
    const auto before = FolderFiles(cwd + "\\");
    Fetch(grabber, PeerBase("tls", "ini"), "");
    EXPECT_FALSE(grabber.Saved());
    EXPECT_EQ(grabber.Stream->Bytes(), kGoodIni) << "downloaded all the same";
    EXPECT_EQ(FolderFiles(cwd + "\\"), before);
    EXPECT_TRUE(LinesMatch(log.Lines(), {R"(Info\tFile downloaded in \d+ms)"}));
}

TEST_F(FileGrabberTest, AnUnwritableFileIsAnErrorLine) {
    testsupport::TempDir dir;
    updtest::MemoryLog log;
    TFileGrabber grabber(&log.Log);
    const std::string file = dir.File("no-such-folder\\voltatlas.ini");
    Fetch(grabber, PeerBase("tls", "ini"), file);
    EXPECT_FALSE(grabber.Saved());
    EXPECT_TRUE(FolderFiles(dir.Path()).empty());
    EXPECT_TRUE(LinesMatch(log.Lines(), {R"(Info\tFile downloaded in \d+ms)",
                                         "Error\\t" + Literal("File download : Cannot write " + file + " (") + ".+\\)"}));
}

TEST_F(FileGrabberTest, ASecondDownloadWhileOneRunsEndsAtOnce) {
    testsupport::TempDir dir;
    updtest::MemoryLog log;
    TFileGrabber grabber(&log.Log);
    updtest::ServerBase server(PeerBase("tls", "ini"));
    int first = 0, second = 0;
    grabber.Download(MakerServerUrl(kLinkFilePath), dir.File("first.ini"), nullptr, 1, 0, [&](TFileGrabber*) { ++first; });
    grabber.Download(MakerServerUrl("/ini2/x.ini"), dir.File("second.ini"), nullptr, 2, 0,
                     [&](TFileGrabber*) { ++second; });
    EXPECT_EQ(second, 1) << "ended before Download returned";
    EXPECT_TRUE(LinesMatch(log.Lines(), {Literal("Error\tFile download : Cannot start (a download is running)")}));
    ASSERT_TRUE(PumpUntil([&] { return first > 0; }, 30000));
    // The running one went on untouched.
    EXPECT_EQ(grabber.Tag1, 1);
    EXPECT_EQ(ReadAll(dir.File("first.ini")), kGoodIni);
    EXPECT_EQ(FolderFiles(dir.Path()), std::vector<std::string>{"first.ini"});
    EXPECT_EQ(second, 1);
}

}  // namespace
