#include "midi/transport_start.h"

#include <new>
#include <system_error>
#include <thread>

#include "midi/input_dispatcher.h"
#include "midi/transport_records.h"

std::atomic<bool> RefuseDispatcherStart{false};

bool StartDispatcherThread() {
  if (RefuseDispatcherStart.load(std::memory_order_relaxed)) return false;
  // std::thread reports a failed start by exception; it ends here, at the
  // transport's own boundary.
  try {
    DispatcherHandle = new std::thread(DispatcherThread);
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}
