// Message pumping for tests that drive real windows.
#pragma once

#include <functional>

namespace testsupport {

// Dispatches this thread's messages until condition() holds or timeoutMs passes;
// returns whether the condition held.
bool PumpUntil(const std::function<bool()>& condition, unsigned timeoutMs = 5000);
// Dispatches this thread's messages for the given time.
void PumpFor(unsigned ms);

}  // namespace testsupport
