// The Windows ROOT certificates for the TLS contexts that trust them, read once and kept
// until the system's certificate stores change. Reading the system's certificate stores can
// take far longer than a TLS handshake (Wine imports the host's certificates at each open),
// so a requester on a window's thread asks first and lets the stores be read on a thread of
// their own.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "net/InetSsleay.h"

// Adds the certificates to Store (reading the stores first when no copy holds); how many
// were added.
int InetAddWindowsRootCerts(X509_STORE* Store);

// True when contexts can take the Windows ROOT certificates without reading the stores.
// Otherwise the stores are being read on another thread and Msg (with WParam) is posted to
// Wnd once they have been; Key names that wait for InetCancelWindowsRootWait (one wait per
// key: a second replaces the first).
bool InetWindowsRootStoreReady(HWND Wnd, UINT Msg, WPARAM WParam, const void* Key);
// Nothing is posted for Key from now on.
void InetCancelWindowsRootWait(const void* Key);
// Reads the certificates (DER) of the stores; the default reads ROOT and the Root registry
// stores through crypt32. Setting another (tests) or none (back to the default) forgets what
// was read.
using TWindowsRootReader = std::function<std::vector<std::string>()>;
void InetSetWindowsRootReader(TWindowsRootReader Reader);
