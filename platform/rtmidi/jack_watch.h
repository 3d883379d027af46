// What RtMidi does not tell: that a JACK connection this program made has
// gone (someone ran jack_disconnect, the other client ended) or that the
// JACK server has stopped. Sends then still succeed into a ring buffer that
// nothing reads, and the instrument falls silent: the upload would wait out
// the ten-minute silence rule instead of saying that the interface has gone,
// as winmm does for an unplugged one.
//
// A client of its own ("kelmora-flash-watch") follows the graph: the driver
// registers each connection it made (its own port and the other client's),
// and hears through `lost` when one goes, or all at once when the server
// stops. The callbacks run on JACK's threads and only mark and hand back.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct _jack_client;

namespace rtmidi {

class JackWatch {
 public:
  // Called with the key of a connection that has gone (on JACK's thread).
  using Lost = std::function<void(const void* key)>;
  // None when no JACK server takes the client.
  static std::unique_ptr<JackWatch> Open(Lost lost);
  ~JackWatch();
  JackWatch(const JackWatch&) = delete;
  JackWatch& operator=(const JackWatch&) = delete;

  // The ports `port` is connected to now.
  std::vector<std::string> Connections(const std::string& port) const;
  // Follows the connection of `ours` to `theirs` until it goes or Forget.
  void Follow(const void* key, std::string ours, std::string theirs);
  void Forget(const void* key);

 private:
  struct Followed {
    const void* key;
    std::string ours;
    std::string theirs;
  };
  explicit JackWatch(Lost lost) : lost_(std::move(lost)) {}
  static void OnConnect(unsigned a, unsigned b, int connected, void* self);
  static void OnShutdown(void* self);
  void Gone(const std::function<bool(const Followed&)>& which);

  Lost lost_;
  _jack_client* client_ = nullptr;
  std::mutex mutex_;  // followed_
  std::vector<Followed> followed_;
};

}  // namespace rtmidi
