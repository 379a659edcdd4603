// A small program that starts the engine the way the host does: ConfigureEngine,
// StartEngine; a sub-process ends with 0, a start-up failure with its report and 1.
// --log=FILE names the scripted engine's call log, --report=FILE gets the report too.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/cefintrk.h"

int main(int argc, char** argv) {
  std::string report;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--log=", 6) == 0) setenv("PV7_SCRIPTED_LOG", argv[i] + 6, 1);
    if (std::strncmp(argv[i], "--report=", 9) == 0) report = argv[i] + 9;
  }
  ConfigureEngine();
  try {
    if (!StartEngine(argc, argv)) {
      StopEngine();
      return 0;
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    if (!report.empty())
      if (FILE* f = std::fopen(report.c_str(), "w")) {
        std::fputs(e.Message().c_str(), f);
        std::fclose(f);
      }
    return 1;
  }
  std::printf("browser process\n");
  StopEngine();
  return 0;
}
