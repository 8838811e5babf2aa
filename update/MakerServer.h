// The maker's web server: the one place its address lives. The link file, the update check
// and the pages the program opens are paths on it. Tests point the base at a server of their
// own on 127.0.0.1, so the machine's name resolution is never involved.
#pragma once

#include <string>

// The server's address, without a trailing "/".
inline constexpr const char* kMakerServer = "https://www.quillmark.com";

// Path of the link file and of the update query on the server.
inline constexpr const char* kLinkFilePath = "/voltatlas/voltatlas.ini";
inline constexpr const char* kUpdateCheckPath = "/plim/check.php";

// The base the addresses below are built on: kMakerServer unless a test set another.
std::string MakerServerBase();
// Replaces the base ("https://127.0.0.1:PORT"); an empty text restores kMakerServer.
// A trailing "/" is dropped.
void SetMakerServerBase(const std::string& Base);
// The full address of Path on the server; Path starts with "/" (one is added otherwise).
std::string MakerServerUrl(const std::string& Path);
