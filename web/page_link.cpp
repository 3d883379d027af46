#include "web/page_link.h"

#include <emscripten.h>

#include <cstdio>

// The page's side: site/engine-worker.js defines Module.kfPage.
EM_JS(void, PostJsonToPage, (const char* json), { Module.kfPage.post(JSON.parse(UTF8ToString(json))); });
EM_JS(void, SendBytesOnPage, (unsigned output, const std::uint8_t* bytes, unsigned length), {
  Module.kfPage.send(output, HEAPU8.slice(bytes, bytes + length));
});

namespace web {

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

void Json::Key(std::string_view key) {
  if (text_.size() > 1) text_ += ',';
  text_ += Quoted(key) + ":";
}

Json& Json::Text(std::string_view key, std::string_view value) {
  Key(key);
  text_ += Quoted(value);
  return *this;
}

Json& Json::Number(std::string_view key, std::int64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

Json& Json::Flag(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

Json& Json::Raw(std::string_view key, std::string_view json) {
  Key(key);
  text_ += json;
  return *this;
}

Array& Array::Add(std::string_view json) {
  if (text_.size() > 1) text_ += ',';
  text_ += json;
  return *this;
}

void PostToPage(const std::string& json) { PostJsonToPage(json.c_str()); }

void SendOnPage(std::uint32_t output, std::span<const std::uint8_t> message) {
  SendBytesOnPage(output, message.data(), static_cast<unsigned>(message.size()));
}

}  // namespace web
