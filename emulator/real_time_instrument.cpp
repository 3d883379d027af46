#include "emulator/real_time_instrument.h"

#include <algorithm>
#include <chrono>

namespace emulator {
RealTimeInstrument::RealTimeInstrument(InstrumentSetup setup) : setup_(std::move(setup)) {
  driver_.AddInput({.name = "Tarvonic answers"});
  driver_.AddOutput({.name = "Tarvonic hears"});
  driver_.RecordTraffic(false);
  driver_.InOpen(&replyInput_, 0, ReplyCallback, reinterpret_cast<std::uintptr_t>(this));
  for (int i = 0; i < ReplyBuffers; ++i) {
    headers_[i].lpData = data_[i].data();
    headers_[i].dwBufferLength = ReplyBufferBytes;
    driver_.InPrepareHeader(replyInput_, &headers_[i]);
    driver_.InAddBuffer(replyInput_, &headers_[i]);
  }
  driver_.InStart(replyInput_);
  tarvonic_ = std::make_unique<VirtualTarvonic>(driver_);
  if (setup_.faults) tarvonic_->SetFaults(*setup_.faults);
  pump_ = std::thread(&RealTimeInstrument::Pump, this);
}

RealTimeInstrument::~RealTimeInstrument() {
  Stop();
  tarvonic_.reset();
  driver_.InReset(replyInput_);
  driver_.InClose(replyInput_);
}

void RealTimeInstrument::Stop() {
  if (!pump_.joinable()) return;
  stop_.store(true, std::memory_order_release);
  pump_.join();
}

void RealTimeInstrument::Hear(std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(inboxMutex_);
  inbox_.insert(inbox_.end(), bytes.begin(), bytes.end());
}

// The virtual clock follows real time; the instrument hears and answers on
// this thread only.
void RealTimeInstrument::Pump() {
  using std::chrono::steady_clock;
  const auto start = steady_clock::now();
  std::uint64_t virtualMs = 0;
  std::vector<std::uint8_t> batch;
  while (!stop_.load(std::memory_order_acquire)) {
    {
      std::lock_guard lock(inboxMutex_);
      batch.swap(inbox_);
    }
    midi::FeedSysEx(heard_, batch, [this](std::span<const std::uint8_t> message) {
      heardCount_.fetch_add(1, std::memory_order_acq_rel);
      if (setup_.heard) setup_.heard(message, clock_.TickCount());
      tarvonic_->OnSysEx(0, message, clock_.TickCount());
    });
    batch.clear();
    std::this_thread::sleep_until(start + std::chrono::milliseconds(virtualMs + 1));
    const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - start).count();
    const auto step =
        static_cast<std::uint32_t>(std::max<std::int64_t>(1, real - static_cast<std::int64_t>(virtualMs)));
    clock_.Sleep(step);
    virtualMs += step;
  }
}

// The instrument's answers come out of its simulated input in 128-byte
// buffers; they leave joined into whole messages.
void RealTimeInstrument::ReplyCallback(platform::MidiHandle handle, std::uint32_t message,
                                       std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t) {
  auto& self = *reinterpret_cast<RealTimeInstrument*>(instance);
  if (message != platform::MimLongData && message != platform::MimLongError) return;
  auto* header = reinterpret_cast<platform::MidiHeader*>(param1);
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(header->lpData),
                                            std::min(header->dwBytesRecorded, header->dwBufferLength));
  midi::FeedSysEx(self.reply_, bytes, [&self](std::span<const std::uint8_t> answer) {
    self.setup_.answer(answer, self.clock_.TickCount());
  });
  if (header->dwBytesRecorded > 0) self.driver_.InAddBuffer(handle, header);
}

}  // namespace emulator
