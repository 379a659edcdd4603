// Starts the engine, prints "ready", then pumps until killed (or until stdin closes,
// when it ends with _exit without shutting the engine down).
#include <unistd.h>

#include <cstdio>

#include "cefapi/cef_capi.h"

int main() {
  cef_main_args_t args{0, nullptr};
  cef_settings_t settings{};
  settings.size = sizeof settings;
  if (cef_initialize(&args, &settings, nullptr, nullptr) != 1) return 2;
  printf("ready\n");
  fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) cef_do_message_loop_work();
  _exit(1);
}
