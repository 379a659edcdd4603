// Binary against text load and save of one document, measured side by side.
#pragma once

#include <string>

// Prints "ratio 1mb binload ours-binary/ours-text=X", "ratio 1mb binsave
// ours-binary/ours-text=Y" (cost ratios: below 1 means the binary form is
// cheaper) and the sizes of both forms of `doc1mb`.
void RunBinaryRatios(const std::string& doc1mb);
