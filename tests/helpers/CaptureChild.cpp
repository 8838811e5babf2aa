// A console child for the captured-run tests: writes exactly what its arguments say to its
// standard output and error (raw bytes, no C run-time line-end translation), exits with a
// chosen code, or hangs. Started under other names too (copied as "node.exe"): then an
// argument it does not know makes it print the file "<own name without .exe>.txt" beside it.
//
// Arguments, run in order:
//   out:TEXT   TEXT to standard output, with \r \n \t \\ escapes
//   err:TEXT   the same to standard error
//   long:N     N numbered lines "line 00001" CR LF ... to standard output
//   sleep:MS   Sleep(MS)
//   hang       never ends (until terminated)
//   exit:N     ends with exit code N (default 0)
//   args       prints its own command line
//   spawn:ARG  starts a copy of itself with ARG, inheriting its handles, and does not wait
//   pid        prints "pid:N" LF with its own process id
//   flood      writes numbered lines to standard output without end; ends with 90 when a
//              write fails (the reader has gone)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Write(DWORD which, const std::string& s) {
    HANDLE h = GetStdHandle(which);
    DWORD done = 0;
    size_t at = 0;
    while (at < s.size()) {
        if (!WriteFile(h, s.data() + at, static_cast<DWORD>(s.size() - at), &done, nullptr)) ExitProcess(90);
        at += done;
    }
    FlushFileBuffers(h);
}

std::string Unescape(const char* p) {
    std::string s;
    for (; *p; ++p) {
        if (*p != '\\' || !p[1]) {
            s.push_back(*p);
            continue;
        }
        ++p;
        switch (*p) {
            case 'r': s.push_back('\r'); break;
            case 'n': s.push_back('\n'); break;
            case 't': s.push_back('\t'); break;
            default: s.push_back(*p); break;
        }
    }
    return s;
}

bool Starts(const char* s, const char* prefix) { return std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

// The text file named after this executable, printed as it is; "hang" in it hangs.
int AnswerFromFile() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos) path.resize(dot);
    path += ".txt";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 3;
    std::string text;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    if (text == "hang") Sleep(INFINITE);
    Write(STD_OUTPUT_HANDLE, text);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int code = 0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (Starts(a, "out:")) Write(STD_OUTPUT_HANDLE, Unescape(a + 4));
        else if (Starts(a, "err:")) Write(STD_ERROR_HANDLE, Unescape(a + 4));
        else if (Starts(a, "long:")) {
            const int lines = std::atoi(a + 5);
            std::string s;
            char line[32];
            for (int k = 1; k <= lines; ++k) {
                std::snprintf(line, sizeof line, "line %05d\r\n", k);
                s += line;
            }
            Write(STD_OUTPUT_HANDLE, s);
        } else if (Starts(a, "sleep:")) Sleep(static_cast<DWORD>(std::atoi(a + 6)));
        else if (std::strcmp(a, "hang") == 0) Sleep(INFINITE);
        else if (Starts(a, "exit:")) code = std::atoi(a + 5);
        else if (std::strcmp(a, "pid") == 0) Write(STD_OUTPUT_HANDLE, "pid:" + std::to_string(GetCurrentProcessId()) + "\n");
        else if (std::strcmp(a, "flood") == 0) {
            std::string chunk;
            char line[32];
            for (unsigned k = 0;; ++k) {
                chunk.clear();
                for (int j = 0; j < 256; ++j) {
                    std::snprintf(line, sizeof line, "line %05u\r\n", (k * 256 + j) % 100000);
                    chunk += line;
                }
                // No flush: it would wait for the reader to empty the pipe each time.
                for (size_t at = 0; at < chunk.size();) {
                    DWORD done = 0;
                    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), chunk.data() + at,
                                   static_cast<DWORD>(chunk.size() - at), &done, nullptr))
                        ExitProcess(90);
                    at += done;
                }
            }
        } else if (std::strcmp(a, "args") == 0) Write(STD_OUTPUT_HANDLE, GetCommandLineA());
        else if (Starts(a, "spawn:")) {
            char self[MAX_PATH] = {};
            GetModuleFileNameA(nullptr, self, MAX_PATH);
            std::string line = std::string("\"") + self + "\" " + (a + 6);
            STARTUPINFOA si{};
            si.cb = sizeof si;
            PROCESS_INFORMATION pi{};
            if (!CreateProcessA(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 91;
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        else return AnswerFromFile();
    }
    return code;
}
