#include "platform/rtmidi/jack_watch.h"

#include <jack/jack.h>

#include <algorithm>

namespace rtmidi {
namespace {

constexpr char WatchClientName[] = "kelmora-flash-watch";

std::string PortName(jack_client_t* client, jack_port_id_t id) {
  const jack_port_t* port = jack_port_by_id(client, id);
  const char* name = port != nullptr ? jack_port_name(port) : nullptr;
  return name != nullptr ? name : "";
}

}  // namespace

std::unique_ptr<JackWatch> JackWatch::Open(Lost lost) {
  std::unique_ptr<JackWatch> watch(new JackWatch(std::move(lost)));
  jack_status_t status{};
  watch->client_ = jack_client_open(WatchClientName, JackNoStartServer, &status);
  if (watch->client_ == nullptr) return nullptr;
  jack_on_shutdown(watch->client_, OnShutdown, watch.get());
  jack_set_port_connect_callback(
      watch->client_,
      [](jack_port_id_t a, jack_port_id_t b, int connected, void* self) { OnConnect(a, b, connected, self); },
      watch.get());
  if (jack_activate(watch->client_) != 0) return nullptr;
  return watch;
}

JackWatch::~JackWatch() {
  if (client_ != nullptr) jack_client_close(client_);
}

std::vector<std::string> JackWatch::Connections(const std::string& port) const {
  std::vector<std::string> names;
  const jack_port_t* found = jack_port_by_name(client_, port.c_str());
  const char** connections = found != nullptr ? jack_port_get_all_connections(client_, found) : nullptr;
  for (const char** name = connections; name != nullptr && *name != nullptr; ++name) names.emplace_back(*name);
  if (connections != nullptr) jack_free(connections);
  return names;
}

void JackWatch::Follow(const void* key, std::string ours, std::string theirs) {
  std::lock_guard lock(mutex_);
  followed_.push_back({key, std::move(ours), std::move(theirs)});
}

void JackWatch::Forget(const void* key) {
  std::lock_guard lock(mutex_);
  std::erase_if(followed_, [key](const Followed& f) { return f.key == key; });
}

void JackWatch::OnConnect(unsigned a, unsigned b, int connected, void* self) {
  if (connected != 0) return;
  auto& watch = *static_cast<JackWatch*>(self);
  const std::string one = PortName(watch.client_, a);
  const std::string other = PortName(watch.client_, b);
  watch.Gone([&](const Followed& f) {
    return (f.ours == one && f.theirs == other) || (f.ours == other && f.theirs == one);
  });
}

// The server is gone, and every connection with it. No JACK call may be
// made here.
void JackWatch::OnShutdown(void* self) {
  static_cast<JackWatch*>(self)->Gone([](const Followed&) { return true; });
}

void JackWatch::Gone(const std::function<bool(const Followed&)>& which) {
  std::vector<const void*> keys;
  {
    std::lock_guard lock(mutex_);
    for (auto it = followed_.begin(); it != followed_.end();) {
      if (which(*it)) {
        keys.push_back(it->key);
        it = followed_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const void* key : keys) lost_(key);
}

}  // namespace rtmidi
