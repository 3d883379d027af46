// For tests only: a look at the transport's pools, and a way back to the
// state of a fresh process, so that cases may also share one process.
#pragma once

#include <cstddef>

namespace transport_testing {

std::size_t BufferPoolSize();    // buffers in the pool now
std::size_t BuffersAllocated();  // buffers ever allocated

// Frees every pooled and queued buffer, every listener record and every
// port still in PortList, without calling the driver, and clears the test
// hooks. Only when no dispatcher thread runs (after MidiTransportShutdown)
// and the driver holds no buffer of the transport any more.
void ResetTransport();

}  // namespace transport_testing
