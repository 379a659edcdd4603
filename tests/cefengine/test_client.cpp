#include "test_client.h"

namespace pv7test {

std::string U8(const cef_string_t* s) {
  if (!s || !s->str) return std::string();
  cef_string_utf8_t out{};
  cef_string_utf16_to_utf8(s->str, s->length, &out);
  std::string r(out.str ? out.str : "", out.length);
  cef_string_utf8_clear(&out);
  return r;
}

std::u16string W(const std::string& s) {
  cef_string_t out{};
  cef_string_utf8_to_utf16(s.data(), s.size(), &out);
  std::u16string r(out.str ? out.str : u"", out.length);
  cef_string_utf16_clear(&out);
  return r;
}

cef_string_t View(const std::u16string& s) {
  cef_string_t v{};
  v.str = const_cast<char16_t*>(s.data());
  v.length = s.size();
  return v;
}

template <class C>
TestClient* Owner(C* self) {
  return static_cast<TestClient*>(reinterpret_cast<Table<C>*>(self)->owner);
}

int TestClient::Dialog(cef_browser_t* b, const std::string& text, cef_jsdialog_callback_t* cb) {
  Rel(b);
  std::lock_guard<std::mutex> lock(m);
  dialogs.push_back(text);
  if (!keepDialogs || dropDialogs) {
    Rel(cb);
    return keepDialogs ? 1 : 0;
  }
  Rel(dialogCallback);
  dialogCallback = cb;
  return 1;
}

TestClient::TestClient() {
  for (void** o : {&client_.owner, &render_.owner, &load_.owner, &display_.owner, &request_.owner,
                   &life_.owner, &dialog_.owner})
    *o = this;
  client_.c.get_render_handler = [](cef_client_t* s) {
    auto* t = Owner(s);
    t->render_.refs++;
    return &t->render_.c;
  };
  client_.c.get_load_handler = [](cef_client_t* s) {
    auto* t = Owner(s);
    t->load_.refs++;
    return &t->load_.c;
  };
  client_.c.get_display_handler = [](cef_client_t* s) {
    auto* t = Owner(s);
    t->display_.refs++;
    return &t->display_.c;
  };
  client_.c.get_request_handler = [](cef_client_t* s) {
    auto* t = Owner(s);
    t->request_.refs++;
    return &t->request_.c;
  };
  client_.c.get_jsdialog_handler = [](cef_client_t* s) {
    auto* t = Owner(s);
    t->dialog_.refs++;
    return &t->dialog_.c;
  };
  dialog_.c.on_jsdialog = [](cef_jsdialog_handler_t* s, cef_browser_t* b, const cef_string_t*,
                             const cef_string_t*, cef_jsdialog_type_t type, const cef_string_t* msg,
                             const cef_string_t*, cef_jsdialog_callback_t* cb, int*) {
    static const char* const kNames[] = {"alert", "confirm", "prompt"};
    return Owner(s)->Dialog(b, std::string(kNames[type]) + ": " + U8(msg), cb);
  };
  dialog_.c.on_before_unload_dialog = [](cef_jsdialog_handler_t* s, cef_browser_t* b,
                                         const cef_string_t* msg, int, cef_jsdialog_callback_t* cb) {
    return Owner(s)->Dialog(b, "beforeunload: " + U8(msg), cb);
  };
  client_.c.get_life_span_handler = [](cef_client_t* s) {
    auto* t = Owner(s);
    t->life_.refs++;
    return &t->life_.c;
  };
  render_.c.get_view_rect = [](cef_render_handler_t* s, cef_browser_t* b, cef_rect_t* r) {
    auto* t = Owner(s);
    Rel(b);
    std::lock_guard<std::mutex> lock(t->m);
    *r = {0, 0, t->viewWidth, t->viewHeight};
    return 1;
  };
  render_.c.on_paint = [](cef_render_handler_t* s, cef_browser_t* b, cef_paint_element_type_t,
                          size_t n, const cef_rect_t* rects, const void* buffer, int w, int h) {
    auto* t = Owner(s);
    Rel(b);
    if (std::this_thread::get_id() != t->mainThread) t->paintOffMain = true;
    std::lock_guard<std::mutex> lock(t->m);
    t->paintCount++;
    t->last.width = w;
    t->last.height = h;
    t->last.rects.assign(rects, rects + n);
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    t->last.pixels.assign(p, p + size_t(w) * h * 4);
  };
  render_.c.on_cursor_change = [](cef_render_handler_t* s, cef_browser_t* b, cef_cursor_handle_t,
                                  cef_cursor_type_t type, const cef_cursor_info_t*) {
    auto* t = Owner(s);
    Rel(b);
    std::lock_guard<std::mutex> lock(t->m);
    t->cursors.push_back(type);
  };
  load_.c.on_load_end = [](cef_load_handler_t* s, cef_browser_t* b, cef_frame_t* f, int) {
    auto* t = Owner(s);
    Rel(b);
    Rel(f);
    std::lock_guard<std::mutex> lock(t->m);
    t->loadEnds++;
  };
  load_.c.on_load_error = [](cef_load_handler_t* s, cef_browser_t* b, cef_frame_t* f,
                             cef_errorcode_t code, const cef_string_t* text,
                             const cef_string_t* url) {
    auto* t = Owner(s);
    Rel(b);
    Rel(f);
    std::lock_guard<std::mutex> lock(t->m);
    t->errors.push_back({static_cast<int>(code), U8(text), U8(url)});
  };
  display_.c.on_console_message = [](cef_display_handler_t* s, cef_browser_t* b,
                                     const cef_string_t* msg, const cef_string_t* src, int line) {
    auto* t = Owner(s);
    Rel(b);
    std::lock_guard<std::mutex> lock(t->m);
    t->console.push_back({U8(msg), U8(src), line});
    return 0;
  };
  display_.c.on_title_change = [](cef_display_handler_t* s, cef_browser_t* b, const cef_string_t* title) {
    auto* t = Owner(s);
    Rel(b);
    std::lock_guard<std::mutex> lock(t->m);
    t->titles.push_back(U8(title));
  };
  request_.c.on_before_resource_load = [](cef_request_handler_t* s, cef_browser_t* b,
                                          cef_frame_t* f, cef_request_t* req,
                                          cef_request_callback_t* cb) {
    auto* t = Owner(s);
    Rel(b);
    Rel(f);
    cef_string_userfree_t u = req->get_url(req);
    std::string url = U8(u);
    cef_string_userfree_utf16_free(u);
    cef_return_value_t answer = RV_CONTINUE;
    {
      std::lock_guard<std::mutex> lock(t->m);
      t->requestUrls.push_back(url);
      t->requestThreads.push_back(std::this_thread::get_id());
      if (!t->cancelUrlPart.empty() && url.find(t->cancelUrlPart) != std::string::npos)
        answer = RV_CANCEL;
      if (url.find("/hdr") != std::string::npos && !t->addHeaders.empty()) {
        cef_string_multimap_t map = cef_string_multimap_alloc();
        req->get_header_map(req, map);
        for (auto& [k, v] : t->addHeaders) {
          std::u16string wk = W(k), wv = W(v);
          cef_string_t sk = View(wk), sv = View(wv);
          cef_string_multimap_append(map, &sk, &sv);
        }
        req->set_header_map(req, map);
        cef_string_multimap_free(map);
      }
      if (!t->asyncUrlPart.empty() && url.find(t->asyncUrlPart) != std::string::npos) {
        answer = RV_CONTINUE_ASYNC;
        t->asyncThreads.emplace_back([cb] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          cb->cont(cb, 1);
          Rel(cb);
        });
        cb = nullptr;
      }
    }
    Rel(cb);
    Rel(req);
    return answer;
  };
  request_.c.on_render_process_terminated = [](cef_request_handler_t* s, cef_browser_t* b,
                                               cef_termination_status_t) {
    auto* t = Owner(s);
    Rel(b);
    std::lock_guard<std::mutex> lock(t->m);
    t->terminated++;
  };
  life_.c.on_after_created = [](cef_life_span_handler_t* s, cef_browser_t* b) {
    auto* t = Owner(s);
    Rel(b);
    std::lock_guard<std::mutex> lock(t->m);
    t->afterCreated = true;
  };
  life_.c.on_before_popup = [](cef_life_span_handler_t* s, cef_browser_t* b, cef_frame_t* f,
                               cef_string_t* url, cef_string_t*, cef_window_open_disposition_t, int,
                               const cef_popup_features_t*, cef_window_info_t*, cef_client_t**,
                               cef_browser_settings_t*, int*) {
    auto* t = Owner(s);
    Rel(b);
    Rel(f);
    std::lock_guard<std::mutex> lock(t->m);
    t->popups.push_back(U8(url));
    return 1;
  };
}

bool PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    cef_do_message_loop_work();
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  cef_do_message_loop_work();
  return pred();
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

}  // namespace pv7test
