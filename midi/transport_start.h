// Starting the dispatcher thread, with a hook through which tests make the
// start fail as if the system had no thread to give.
#pragma once

#include <atomic>

// Starts DispatcherThread and stores its handle in DispatcherHandle; false
// when no thread could be started.
bool StartDispatcherThread();

// Test hook: while true, StartDispatcherThread fails.
extern std::atomic<bool> RefuseDispatcherStart;
