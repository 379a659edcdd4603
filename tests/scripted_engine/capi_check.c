/* The engine's C interface must compile as plain C. */
#include "cefapi/cef_capi.h"

size_t scripted_capi_check_size(void);
size_t scripted_capi_check_size(void) {
  return sizeof(cef_client_t) + sizeof(cef_settings_t) + sizeof(cef_browser_settings_t);
}
