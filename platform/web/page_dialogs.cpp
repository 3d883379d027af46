#include "platform/web/page_dialogs.h"

#include <emscripten.h>

// The page's side of these (web/site/engine-worker.js): askBox returns a
// promise of the pressed button's identifier.
EM_ASYNC_JS(int, AskPage, (const char* caption, const char* text, unsigned flags), {
  return await Module.kfPage.askBox(UTF8ToString(caption), UTF8ToString(text), flags);
});
EM_JS(void, TellPageUploadRunning, (int running), { Module.kfPage.uploadRunning(running != 0); });

namespace web {

int PageDialogs::MessageBox(platform::WindowHandle, const char* text, const char* caption,
                            std::uint32_t flags) {
  // A box without a caption is titled "Error", as Windows titles it.
  const char* shownCaption = caption != nullptr ? caption : "Error";
  const char* shownText = text != nullptr ? text : "";
  const int answer = AskPage(shownCaption, shownText, flags);
  if (answered_) answered_(shownCaption, shownText, answer);
  return answer;
}

void PageDialogs::UploadRunning(bool running) { TellPageUploadRunning(running ? 1 : 0); }

}  // namespace web
