// A small program-side client for driving the engine library through its C interface.
#pragma once
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cefapi/cef_capi.h"

namespace pv7test {

std::string U8(const cef_string_t* s);
cef_string_t View(const std::u16string& s);
std::u16string W(const std::string& s);

template <class T>
void Rel(T* p) {
  if (p) p->base.release(&p->base);
}

// A handler table with reference counting; the owner keeps it alive.
template <class C>
struct Table {
  C c;
  std::atomic<int> refs{1};
  void* owner = nullptr;
  Table() {
    memset(&c, 0, sizeof c);
    c.base.size = sizeof c;
    c.base.add_ref = [](cef_base_t* b) {
      reinterpret_cast<Table*>(b)->refs++;
      return 1;
    };
    c.base.release = [](cef_base_t* b) {
      reinterpret_cast<Table*>(b)->refs--;
      return 0;
    };
    c.base.has_one_ref = [](cef_base_t* b) { return reinterpret_cast<Table*>(b)->refs == 1 ? 1 : 0; };
  }
};

struct Paint {
  int width = 0, height = 0;
  std::vector<cef_rect_t> rects;
  std::vector<uint8_t> pixels;
  uint32_t Pixel(int x, int y) const {  // 0xAARRGGBB
    const uint8_t* p = pixels.data() + (size_t(y) * width + x) * 4;
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
};

struct Console {
  std::string message, source;
  int line;
};

struct LoadError {
  int code;
  std::string text, url;
};

class TestClient {
 public:
  TestClient();
  cef_client_t* Client() { return &client_.c; }

  std::mutex m;
  int viewWidth = 320, viewHeight = 240;
  int paintCount = 0;
  Paint last;
  std::vector<Console> console;
  std::vector<LoadError> errors;
  std::vector<std::string> popups;
  std::vector<std::string> titles;
  std::vector<int> cursors;
  int loadEnds = 0;
  int terminated = 0;
  bool afterCreated = false;
  // Headers appended by on_before_resource_load to requests whose URL holds "/hdr".
  std::vector<std::pair<std::string, std::string>> addHeaders;
  std::vector<std::string> requestUrls;
  std::vector<std::thread::id> requestThreads;
  std::thread::id mainThread = std::this_thread::get_id();
  std::atomic<bool> paintOffMain{false};
  std::string cancelUrlPart;
  // Requests whose URL holds this go on later, from another thread.
  std::string asyncUrlPart;
  std::vector<std::thread> asyncThreads;
  // JavaScript dialogs: "alert: text" etc. as the jsdialog handler saw them. Kept
  // (keepDialogs), the last callback waits in dialogCallback; dropDialogs releases
  // it at once, unanswered.
  std::vector<std::string> dialogs;
  bool keepDialogs = false, dropDialogs = false;
  cef_jsdialog_callback_t* dialogCallback = nullptr;

 private:
  int Dialog(cef_browser_t* b, const std::string& text, cef_jsdialog_callback_t* cb);
  Table<cef_client_t> client_;
  Table<cef_render_handler_t> render_;
  Table<cef_load_handler_t> load_;
  Table<cef_display_handler_t> display_;
  Table<cef_request_handler_t> request_;
  Table<cef_life_span_handler_t> life_;
  Table<cef_jsdialog_handler_t> dialog_;
};

// Pumps the engine on this thread until pred holds or the time is up.
bool PumpUntil(const std::function<bool()>& pred, int timeoutMs);
void PumpFor(int ms);

}  // namespace pv7test
