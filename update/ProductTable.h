// The product table of the product-name derivation: per-product rows that turn the raw name
// found in the version resource into the name a user knows the program by, and tell editions,
// channels and bitness apart by the file's folder, its siblings, its version numbers, the
// installed-software list and, for one runtime, the program's own answer. Internal to update/.
//
// The rows form three lists, run at their places among the derivation's common steps. Each
// row is data: up to three tests on the working values and one action; a row changes the name
// only when all its tests hold, every row is tried in table order, and a later row sees what
// an earlier one did.
#pragma once

#include <windows.h>

#include "update/PlimRules.h"

namespace plim {

void ApplyProductTableD1(TProductWork& W);
void ApplyProductTableD2(TProductWork& W);
void ApplyProductTableD3(TProductWork& W);

// How long a row waits for a program it runs before it gives up and keeps the plain name:
// the derivation runs on the window's thread.
constexpr DWORD kProductRowChildTimeoutMs = 5000;

}  // namespace plim
