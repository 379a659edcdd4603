// xmltool tobin [--options N] [FILE]: load a document (text or binary form) and
// write its binary form to standard output.
#pragma once

#include <cstdio>
#include <string>

// argv[0] is "tobin"; the rest are its arguments. Returns the exit status: 0, or 1
// after writing the error's message as the only line on `err`.
int RunToBin(int argc, char** argv, std::FILE* out, std::FILE* err);
inline int RunToBin(int argc, char** argv) { return RunToBin(argc, argv, stdout, stderr); }

// The bytes of FILE, or of standard input when FILE is empty or "-"; raises
// Exception with a message when it is a folder or cannot be read.
std::string ReadToolInput(const std::string& file);
