// The engine's side of the messages between the page and its engine. The
// page (site/app.js) holds the Web MIDI ports and draws; the engine (this
// folder, in a dedicated Worker, site/engine-worker.js) does everything
// else. What the engine tells the page is one JSON object per message, with
// a `type`:
//   ready     the image: version, its label, whether it is the development
//             image, whether it is the embedded one, and the texts the page
//             shows of its own (permission, no Web MIDI, ...)
//   ports     the Ports page's items: text, input, enabled
//   devices   the Flash page: the device lines, sorted as the Windows
//             program's list sorts them, the selected one's details, and
//             whether Start Flash may be pressed
//   progress  a progress window opened, changed its text or position, or
//             closed, with the engine clock's time
//   session   a session started or ended, and with what
//   firmware  what the virtual Tarvonic wrote, against the image
//   transcript  the run's transcript so far
//   failed    a start that could not be made, with the reason
// and, outside JSON, the bytes to send on a port (Module.kfPage.send). The
// page's questions come as boxes (platform/web/page_dialogs.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace web {

// Builds one message: Json().Text("type", "ports").List("items", ...).
class Json {
 public:
  Json& Text(std::string_view key, std::string_view value);
  Json& Number(std::string_view key, std::int64_t value);
  Json& Flag(std::string_view key, bool value);
  // A value already in JSON (an array or object built with Json or Array).
  Json& Raw(std::string_view key, std::string_view json);
  std::string Done() const { return text_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string text_ = "{";
};

// "[a,b]" of values already in JSON.
class Array {
 public:
  Array& Add(std::string_view json);
  std::string Done() const { return text_ + "]"; }

 private:
  std::string text_ = "[";
};

// A JSON string: quoted, escaped; bytes that are not UTF-8 are kept as the
// page decodes them.
std::string Quoted(std::string_view text);

void PostToPage(const std::string& json);
void SendOnPage(std::uint32_t output, std::span<const std::uint8_t> message);

}  // namespace web
