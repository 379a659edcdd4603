/* The engine's string types: UTF-16 strings with a length and an optional
   destructor, and the opaque string list, map and multimap handles. Plain C so
   that every engine library and the program share the same declarations. */
#ifndef PV7_CEFAPI_CEF_STRING_H
#define PV7_CEFAPI_CEF_STRING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
typedef char16_t cef_char16_t;
#else
#include <uchar.h>
typedef char16_t cef_char16_t;
#endif

#define CEF_CALLBACK
#define CEF_EXPORT __attribute__((visibility("default")))

/* A UTF-16 string. `dtor`, when set, frees `str` (called by the clear
   function); a string without dtor is a borrowed view. */
typedef struct _cef_string_utf16_t {
  cef_char16_t* str;
  size_t length;
  void (*dtor)(cef_char16_t* str);
} cef_string_utf16_t;

/* An 8-bit (UTF-8) string, used only as the output of conversions. */
typedef struct _cef_string_utf8_t {
  char* str;
  size_t length;
  void (*dtor)(char* str);
} cef_string_utf8_t;

/* The engine is built with UTF-16 strings: its generic string is the UTF-16 one. */
typedef cef_string_utf16_t cef_string_t;
typedef cef_char16_t cef_char_t;

/* A string allocated by the engine that the receiver frees with
   cef_string_userfree_utf16_free (it also clears the characters). */
typedef cef_string_utf16_t* cef_string_userfree_utf16_t;
typedef cef_string_userfree_utf16_t cef_string_userfree_t;

/* Opaque engine-owned collections of strings. */
typedef struct _cef_string_list_impl* cef_string_list_t;
typedef struct _cef_string_map_impl* cef_string_map_t;
typedef struct _cef_string_multimap_impl* cef_string_multimap_t;

/* --- UTF-16 string functions ---------------------------------------------
   cef_string_utf16_set: with copy != 0 the characters are copied and the
   output owns them (dtor set); with copy == 0 the output borrows src. Any
   previous contents of output are cleared first. Returns 1 on success. */
CEF_EXPORT int cef_string_utf16_set(const cef_char16_t* src, size_t src_len,
                                    cef_string_utf16_t* output, int copy);
CEF_EXPORT void cef_string_utf16_clear(cef_string_utf16_t* str);
CEF_EXPORT int cef_string_utf16_cmp(const cef_string_utf16_t* str1,
                                    const cef_string_utf16_t* str2);
CEF_EXPORT int cef_string_utf8_set(const char* src, size_t src_len,
                                   cef_string_utf8_t* output, int copy);
CEF_EXPORT void cef_string_utf8_clear(cef_string_utf8_t* str);
CEF_EXPORT int cef_string_utf8_to_utf16(const char* src, size_t src_len,
                                        cef_string_utf16_t* output);
CEF_EXPORT int cef_string_utf16_to_utf8(const cef_char16_t* src, size_t src_len,
                                        cef_string_utf8_t* output);
CEF_EXPORT int cef_string_ascii_to_utf16(const char* src, size_t src_len,
                                         cef_string_utf16_t* output);
CEF_EXPORT cef_string_userfree_utf16_t cef_string_userfree_utf16_alloc(void);
CEF_EXPORT void cef_string_userfree_utf16_free(cef_string_userfree_utf16_t str);

/* --- string list (ordered values) ---------------------------------------- */
CEF_EXPORT cef_string_list_t cef_string_list_alloc(void);
CEF_EXPORT size_t cef_string_list_size(cef_string_list_t list);
/* Sets *value to a copy of the value at index; 0 when index is out of range. */
CEF_EXPORT int cef_string_list_value(cef_string_list_t list, size_t index, cef_string_t* value);
CEF_EXPORT void cef_string_list_append(cef_string_list_t list, const cef_string_t* value);
CEF_EXPORT void cef_string_list_clear(cef_string_list_t list);
CEF_EXPORT void cef_string_list_free(cef_string_list_t list);
CEF_EXPORT cef_string_list_t cef_string_list_copy(cef_string_list_t list);

/* --- string map (unique keys, insertion order) ----------------------------- */
CEF_EXPORT cef_string_map_t cef_string_map_alloc(void);
CEF_EXPORT size_t cef_string_map_size(cef_string_map_t map);
CEF_EXPORT int cef_string_map_find(cef_string_map_t map, const cef_string_t* key, cef_string_t* value);
CEF_EXPORT int cef_string_map_key(cef_string_map_t map, size_t index, cef_string_t* key);
CEF_EXPORT int cef_string_map_value(cef_string_map_t map, size_t index, cef_string_t* value);
CEF_EXPORT int cef_string_map_append(cef_string_map_t map, const cef_string_t* key,
                                     const cef_string_t* value);
CEF_EXPORT void cef_string_map_clear(cef_string_map_t map);
CEF_EXPORT void cef_string_map_free(cef_string_map_t map);

/* --- string multimap (a key may appear more than once; insertion order) ---- */
CEF_EXPORT cef_string_multimap_t cef_string_multimap_alloc(void);
CEF_EXPORT size_t cef_string_multimap_size(cef_string_multimap_t map);
CEF_EXPORT size_t cef_string_multimap_find_count(cef_string_multimap_t map, const cef_string_t* key);
/* The value_index-th value stored under key. */
CEF_EXPORT int cef_string_multimap_enumerate(cef_string_multimap_t map, const cef_string_t* key,
                                             size_t value_index, cef_string_t* value);
CEF_EXPORT int cef_string_multimap_key(cef_string_multimap_t map, size_t index, cef_string_t* key);
CEF_EXPORT int cef_string_multimap_value(cef_string_multimap_t map, size_t index,
                                         cef_string_t* value);
CEF_EXPORT int cef_string_multimap_append(cef_string_multimap_t map, const cef_string_t* key,
                                          const cef_string_t* value);
CEF_EXPORT void cef_string_multimap_clear(cef_string_multimap_t map);
CEF_EXPORT void cef_string_multimap_free(cef_string_multimap_t map);

#ifdef __cplusplus
}
#endif

#endif
