#pragma once

#include <functional>

// Runs Qt events (timers, queued replies of worker threads) until `ready`
// holds; false after `timeoutMs`. Tests wait on these instead of sleeping, so
// they are as fast as the code allows and bounded when it hangs.
bool waitUntil(const std::function<bool()>& ready, int timeoutMs = 5000);

// Runs Qt events for `ms`.
void pump(int ms);
