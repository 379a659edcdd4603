#include "capi_client.h"

#include <cstddef>

namespace cefeng::capi {

BrowserOptions OptionsFrom(const cef_browser_settings_t* s) {
  BrowserOptions o;
  if (!s) return o;
  auto has = [s](size_t offset, size_t size) { return s->size >= offset + size; };
  if (has(offsetof(cef_browser_settings_t, windowless_frame_rate), sizeof(int)) &&
      s->windowless_frame_rate > 0)
    o.frameRate = s->windowless_frame_rate;
  if (has(offsetof(cef_browser_settings_t, javascript), sizeof(int)))
    o.javascript = s->javascript != STATE_DISABLED;
  if (has(offsetof(cef_browser_settings_t, image_loading), sizeof(int)))
    o.images = s->image_loading != STATE_DISABLED;
  if (has(offsetof(cef_browser_settings_t, background_color), sizeof(cef_color_t)) &&
      s->background_color != 0) {
    o.backgroundColor = s->background_color;
    o.hasBackground = true;
  }
  return o;
}

}  // namespace cefeng::capi
