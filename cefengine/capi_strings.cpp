// The engine's UTF-16 string, string-list, string-map and string-multimap functions.
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "cefapi/cef_string.h"
#include "mapping.h"

struct _cef_string_list_impl {
  std::vector<std::u16string> items;
};
struct _cef_string_map_impl {
  std::vector<std::pair<std::u16string, std::u16string>> items;
};
struct _cef_string_multimap_impl {
  std::vector<std::pair<std::u16string, std::u16string>> items;
};

namespace {

void FreeUtf16(cef_char16_t* s) { delete[] s; }
void FreeUtf8(char* s) { delete[] s; }

std::u16string FromCef(const cef_string_t* s) {
  if (!s || !s->str) return std::u16string();
  return std::u16string(s->str, s->length);
}

void SetCopy(const std::u16string& v, cef_string_t* out) {
  cef_string_utf16_set(v.data(), v.size(), out, 1);
}

}  // namespace

extern "C" {

CEF_EXPORT int cef_string_utf16_set(const cef_char16_t* src, size_t src_len,
                                    cef_string_utf16_t* output, int copy) {
  if (!output) return 0;
  cef_string_utf16_clear(output);
  if (!src && src_len) return 0;
  if (copy) {
    cef_char16_t* buf = new cef_char16_t[src_len + 1];
    if (src_len) memcpy(buf, src, src_len * sizeof(cef_char16_t));
    buf[src_len] = 0;
    output->str = buf;
    output->length = src_len;
    output->dtor = FreeUtf16;
  } else {
    output->str = const_cast<cef_char16_t*>(src);
    output->length = src_len;
    output->dtor = nullptr;
  }
  return 1;
}

CEF_EXPORT void cef_string_utf16_clear(cef_string_utf16_t* str) {
  if (!str) return;
  if (str->dtor && str->str) str->dtor(str->str);
  str->str = nullptr;
  str->length = 0;
  str->dtor = nullptr;
}

CEF_EXPORT int cef_string_utf16_cmp(const cef_string_utf16_t* a, const cef_string_utf16_t* b) {
  std::u16string x = FromCef(a), y = FromCef(b);
  int c = x.compare(y);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

CEF_EXPORT int cef_string_utf8_set(const char* src, size_t src_len, cef_string_utf8_t* output,
                                   int copy) {
  if (!output) return 0;
  cef_string_utf8_clear(output);
  if (!src && src_len) return 0;
  if (copy) {
    char* buf = new char[src_len + 1];
    if (src_len) memcpy(buf, src, src_len);
    buf[src_len] = 0;
    output->str = buf;
    output->length = src_len;
    output->dtor = FreeUtf8;
  } else {
    output->str = const_cast<char*>(src);
    output->length = src_len;
    output->dtor = nullptr;
  }
  return 1;
}

CEF_EXPORT void cef_string_utf8_clear(cef_string_utf8_t* str) {
  if (!str) return;
  if (str->dtor && str->str) str->dtor(str->str);
  str->str = nullptr;
  str->length = 0;
  str->dtor = nullptr;
}

CEF_EXPORT int cef_string_utf8_to_utf16(const char* src, size_t src_len, cef_string_utf16_t* output) {
  if (!output || (!src && src_len)) return 0;
  std::u16string w = cefeng::Utf8ToUtf16(std::string(src ? src : "", src_len));
  return cef_string_utf16_set(w.data(), w.size(), output, 1);
}

CEF_EXPORT int cef_string_utf16_to_utf8(const cef_char16_t* src, size_t src_len,
                                        cef_string_utf8_t* output) {
  if (!output || (!src && src_len)) return 0;
  std::string s = cefeng::Utf16ToUtf8(src, src_len);
  return cef_string_utf8_set(s.data(), s.size(), output, 1);
}

CEF_EXPORT int cef_string_ascii_to_utf16(const char* src, size_t src_len, cef_string_utf16_t* output) {
  if (!output || (!src && src_len)) return 0;
  std::u16string w;
  w.reserve(src_len);
  for (size_t i = 0; i < src_len; ++i) w.push_back(static_cast<unsigned char>(src[i]));
  return cef_string_utf16_set(w.data(), w.size(), output, 1);
}

CEF_EXPORT cef_string_userfree_utf16_t cef_string_userfree_utf16_alloc(void) {
  auto* s = new cef_string_utf16_t;
  s->str = nullptr;
  s->length = 0;
  s->dtor = nullptr;
  return s;
}

CEF_EXPORT void cef_string_userfree_utf16_free(cef_string_userfree_utf16_t str) {
  if (!str) return;
  cef_string_utf16_clear(str);
  delete str;
}

// ---- list
CEF_EXPORT cef_string_list_t cef_string_list_alloc(void) { return new _cef_string_list_impl; }
CEF_EXPORT size_t cef_string_list_size(cef_string_list_t list) { return list ? list->items.size() : 0; }
CEF_EXPORT int cef_string_list_value(cef_string_list_t list, size_t index, cef_string_t* value) {
  if (!list || !value || index >= list->items.size()) return 0;
  SetCopy(list->items[index], value);
  return 1;
}
CEF_EXPORT void cef_string_list_append(cef_string_list_t list, const cef_string_t* value) {
  if (list) list->items.push_back(FromCef(value));
}
CEF_EXPORT void cef_string_list_clear(cef_string_list_t list) {
  if (list) list->items.clear();
}
CEF_EXPORT void cef_string_list_free(cef_string_list_t list) { delete list; }
CEF_EXPORT cef_string_list_t cef_string_list_copy(cef_string_list_t list) {
  auto* c = new _cef_string_list_impl;
  if (list) c->items = list->items;
  return c;
}

// ---- map (unique keys: appending a present key fails)
CEF_EXPORT cef_string_map_t cef_string_map_alloc(void) { return new _cef_string_map_impl; }
CEF_EXPORT size_t cef_string_map_size(cef_string_map_t map) { return map ? map->items.size() : 0; }
CEF_EXPORT int cef_string_map_find(cef_string_map_t map, const cef_string_t* key, cef_string_t* value) {
  if (!map || !value) return 0;
  std::u16string k = FromCef(key);
  for (auto& [ik, iv] : map->items)
    if (ik == k) {
      SetCopy(iv, value);
      return 1;
    }
  return 0;
}
CEF_EXPORT int cef_string_map_key(cef_string_map_t map, size_t index, cef_string_t* key) {
  if (!map || !key || index >= map->items.size()) return 0;
  SetCopy(map->items[index].first, key);
  return 1;
}
CEF_EXPORT int cef_string_map_value(cef_string_map_t map, size_t index, cef_string_t* value) {
  if (!map || !value || index >= map->items.size()) return 0;
  SetCopy(map->items[index].second, value);
  return 1;
}
CEF_EXPORT int cef_string_map_append(cef_string_map_t map, const cef_string_t* key,
                                     const cef_string_t* value) {
  if (!map) return 0;
  std::u16string k = FromCef(key);
  for (auto& item : map->items)
    if (item.first == k) return 0;
  map->items.emplace_back(std::move(k), FromCef(value));
  return 1;
}
CEF_EXPORT void cef_string_map_clear(cef_string_map_t map) {
  if (map) map->items.clear();
}
CEF_EXPORT void cef_string_map_free(cef_string_map_t map) { delete map; }

// ---- multimap
CEF_EXPORT cef_string_multimap_t cef_string_multimap_alloc(void) { return new _cef_string_multimap_impl; }
CEF_EXPORT size_t cef_string_multimap_size(cef_string_multimap_t map) {
  return map ? map->items.size() : 0;
}
CEF_EXPORT size_t cef_string_multimap_find_count(cef_string_multimap_t map, const cef_string_t* key) {
  if (!map) return 0;
  std::u16string k = FromCef(key);
  size_t n = 0;
  for (auto& item : map->items) n += item.first == k;
  return n;
}
CEF_EXPORT int cef_string_multimap_enumerate(cef_string_multimap_t map, const cef_string_t* key,
                                             size_t value_index, cef_string_t* value) {
  if (!map || !value) return 0;
  std::u16string k = FromCef(key);
  for (auto& item : map->items)
    if (item.first == k && value_index-- == 0) {
      SetCopy(item.second, value);
      return 1;
    }
  return 0;
}
CEF_EXPORT int cef_string_multimap_key(cef_string_multimap_t map, size_t index, cef_string_t* key) {
  if (!map || !key || index >= map->items.size()) return 0;
  SetCopy(map->items[index].first, key);
  return 1;
}
CEF_EXPORT int cef_string_multimap_value(cef_string_multimap_t map, size_t index, cef_string_t* value) {
  if (!map || !value || index >= map->items.size()) return 0;
  SetCopy(map->items[index].second, value);
  return 1;
}
CEF_EXPORT int cef_string_multimap_append(cef_string_multimap_t map, const cef_string_t* key,
                                          const cef_string_t* value) {
  if (!map) return 0;
  map->items.emplace_back(FromCef(key), FromCef(value));
  return 1;
}
CEF_EXPORT void cef_string_multimap_clear(cef_string_multimap_t map) {
  if (map) map->items.clear();
}
CEF_EXPORT void cef_string_multimap_free(cef_string_multimap_t map) { delete map; }

}  // extern "C"
