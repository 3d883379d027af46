// Built into programs that use RtMidi only under ThreadSanitizer. JACK's
// ring buffers are lock-free, with memory barriers inside libjack, which is
// not instrumented: ThreadSanitizer cannot see them and reports every
// message that crosses a ring buffer as a race. Races in this project's own
// code are still reported.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libjack.so\n"
         "race:jack_ringbuffer_\n";
}
