// Binary form against text form on the same document, measured side by side.
#pragma once

#include <string>

// Loads `text` once, then times loading and saving in both forms (best of several
// interleaved rounds) and prints
//   size 1mb text=N binary=M
//   ratio 1mb binload ours-binary/ours-text=X
//   ratio 1mb binsave ours-binary/ours-text=Y
// (time ratios: below 1 means the binary form is cheaper).
void RunBinaryRatios(const std::string& text, const char* label = "1mb");
