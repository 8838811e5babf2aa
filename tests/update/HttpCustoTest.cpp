// The HTTP set-up helper with and without OpenSSL: the version text, the https fall-back
// (also for the downloader and the update checker, with their Verbose lines), and Windows
// before Vista, where OpenSSL is never loaded. The loader is pointed at an empty folder to
// stand for a machine without the DLLs, and back at the program's folder afterwards.
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "UpdatePeerUtil.h"
#include "foundation/JoryUtils.h"
#include "net/InetLibeay.h"
#include "support/Pump.h"
#include "support/TempDir.h"
#include "update/FileGrabber.h"
#include "update/HttpCusto.h"
#include "update/MakerServer.h"
#include "update/PlimLite.h"

using testsupport::PumpUntil;
using updtest::Literal;
using updtest::LinesMatch;
using updtest::PeerBase;

namespace {

// Forgets a load, so the next IsSslAvailable loads again (from OpenSslDllFolder).
void UnloadOpenSsl() {
    ASSERT_EQ(OpenSslRefCount, 0) << "a TLS object is still alive";
    if (LibSslHandle) FreeLibrary(LibSslHandle);
    if (LibCryptoHandle) FreeLibrary(LibCryptoHandle);
    LibSslHandle = LibCryptoHandle = nullptr;
    InetClearSslProcs();
    OpenSslVersionNumber = 0;
    OpenSslPreferVersion3 = OpenSslSkipVersion3 = false;
}

class SslAvailability : public ::testing::Test {
protected:
    void SetUp() override { UnloadOpenSsl(); }
    void TearDown() override {
        JoryOsApi() = RealJoryOsApi();
        UnloadOpenSsl();
        OpenSslDllFolder.clear();
    }
};

TEST_F(SslAvailability, TheProgramsOwnDlls) {
    const std::string text = GetOpenSslVersionText();
    EXPECT_EQ(text.rfind("OpenSSL 3.", 0), 0u) << text;
    EXPECT_EQ(text, InetOpenSslVersionText());
    const HMODULE loaded = LibCryptoHandle;
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(IsSslAvailable());
    EXPECT_EQ(LibCryptoHandle, loaded) << "not loaded twice";
    EXPECT_EQ(DowngradeUrlIfNoSsl("https://www.quillmark.com/plim/check.php"), "https://www.quillmark.com/plim/check.php");
}

TEST_F(SslAvailability, NoDllsMeansPlainHttp) {
    testsupport::TempDir empty;
    OpenSslDllFolder = empty.Path();
    EXPECT_FALSE(IsSslAvailable());
    EXPECT_EQ(OpenSslVersionNumber, 999u);
    EXPECT_EQ(GetOpenSslVersionText(), "Not Available");
    const struct {
        const char* url;
        const char* expected;
    } cases[] = {
        {"https://www.quillmark.com/voltatlas/voltatlas.ini", "http://www.quillmark.com/voltatlas/voltatlas.ini"},
        {"HTTPS://Host/A?b=C", "http://Host/A?b=C"},
        {"hTtPs://host:443/", "http://host:443/"},
        {"http://www.quillmark.com/", "http://www.quillmark.com/"},
        {"HTTP://host/https", "HTTP://host/https"},
        {"ftp://host/", "ftp://host/"},
    };
    for (const auto& c : cases) EXPECT_EQ(DowngradeUrlIfNoSsl(c.url), c.expected) << c.url;

    // A failed load is tried again: the DLLs back beside the program make TLS available.
    OpenSslDllFolder.clear();
    EXPECT_TRUE(IsSslAvailable());
}

// RtlGetVersion answering 5.1, whatever the workstation service says.
LONG WINAPI XpRtlGetVersion(PRTL_OSVERSIONINFOW info) {
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    return 0;
}
FARPROC WINAPI XpGetProcAddress(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) && std::string(name) == "RtlGetVersion")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&XpRtlGetVersion));
    return GetProcAddress(module, name);
}

TEST_F(SslAvailability, NeverLoadedBeforeVista) {
    TJoryOsApi xp = RealJoryOsApi();
    xp.GetProcAddress = XpGetProcAddress;
    JoryOsApi() = xp;
    EXPECT_EQ(GetOpenSslVersionText(), "Not Available") << "the DLLs are beside the program";
    EXPECT_EQ(LibCryptoHandle, nullptr);
    EXPECT_EQ(DowngradeUrlIfNoSsl("https://host/"), "http://host/");
}

// The two users of the helper over plain HTTP when TLS is missing.
class WithoutOpenSsl : public SslAvailability {
protected:
    void SetUp() override {
        SslAvailability::SetUp();
        if (updtest::PeerPort("plain").empty()) GTEST_SKIP() << "update peer not started";
        OpenSslDllFolder = empty_.Path();
    }
    testsupport::TempDir empty_;
};

TEST_F(WithoutOpenSsl, TheUpdateCheckFallsBackToHttp) {
    // The https address of the plain listener: only the fall-back reaches it.
    updtest::ServerBase server("https://127.0.0.1:" + updtest::PeerPort("plain") + "/newer");
    updtest::MemoryLog log;
    TPlimLite lite(&log.Log, "VoltAtlas");
    int calls = 0;
    lite.CheckUpdate(identtest::VoltAtlasExe(), nullptr, [&](TPlimLite*) { ++calls; });
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }, 30000));
    EXPECT_TRUE(lite.ReplyValid());
    EXPECT_TRUE(lite.UpdateAvailable());
    EXPECT_EQ(updtest::PeerRequests().back().rfind("GET /newer/plim/check.php?uid=0&ProductName=VoltAtlas%20%2864%20bits%29", 0),
              0u);
    EXPECT_TRUE(LinesMatch(log.Lines(), {Literal("Info\tVoltAtlas Update self check : Initialization"),
                                         Literal("Verbose\tPlimLite : No SSL / Back to HTTP"),
                                         R"(Info\tVoltAtlas Update self check : Server replied 1\.0\.0\.2 in \d+ms)"}));
}

TEST_F(WithoutOpenSsl, TheDownloadFallsBackToHttp) {
    testsupport::TempDir dir;
    updtest::MemoryLog log;
    TFileGrabber grabber(&log.Log);
    const std::string https = "https://127.0.0.1:" + updtest::PeerPort("plain") + "/ini" + kLinkFilePath;
    int calls = 0;
    grabber.Download(https, dir.File("voltatlas.ini"), nullptr, 0, 0, [&](TFileGrabber*) { ++calls; });
    ASSERT_TRUE(PumpUntil([&] { return calls > 0; }, 30000));
    EXPECT_TRUE(grabber.Saved());
    EXPECT_EQ(grabber.URL, https) << "the address asked for is kept";
    EXPECT_EQ(updtest::PeerRequests().back(), "GET /ini/voltatlas/voltatlas.ini HTTP/1.1");
    EXPECT_TRUE(LinesMatch(log.Lines(), {Literal("Verbose\tFileGrabber : No SSL / Back to HTTP"),
                                         R"(Info\tFile downloaded in \d+ms)"}));
}

TEST(MakerServer, AddressesFollowTheBase) {
    EXPECT_EQ(MakerServerUrl(kUpdateCheckPath), "https://www.quillmark.com/plim/check.php");
    EXPECT_EQ(MakerServerUrl("/?voltatlas"), "https://www.quillmark.com/?voltatlas");
    SetMakerServerBase("https://127.0.0.1:4443/");
    EXPECT_EQ(MakerServerUrl(kLinkFilePath), "https://127.0.0.1:4443/voltatlas/voltatlas.ini");
    EXPECT_EQ(MakerServerUrl("plim/drivers.php"), "https://127.0.0.1:4443/plim/drivers.php");
    SetMakerServerBase("");
    EXPECT_EQ(MakerServerBase(), "https://www.quillmark.com");
}

}  // namespace
