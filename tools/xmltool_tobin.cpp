// xmltool tobin: the binary form of a document on standard output.
#include "tools/xmltool_tobin.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "xml/xmlSimple.h"

std::string ReadToolInput(const std::string& file) {
  std::string bytes;
  if (file.empty() || file == "-") {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), stdin)) > 0) bytes.append(buf, n);
    if (std::ferror(stdin)) throw Exception("Cannot read the standard input");
    return bytes;
  }
  // A folder opens like a file but has no bytes to read: say so instead.
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    throw Exception("Cannot read \"" + file + "\": it is a folder");
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Exception("Cannot open file \"" + file + "\". " + std::strerror(errno));
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) throw Exception("Cannot read file \"" + file + "\". " + std::strerror(errno));
  return bytes;
}

namespace {

// The options word: decimal, or hexadecimal with 0x; 0 to 4294967295.
bool ParseOptions(const char* text, uint32_t& value) {
  if (!text || !*text || *text == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno || *end || v > 0xFFFFFFFFull) return false;
  value = uint32_t(v);
  return true;
}

}  // namespace

int RunToBin(int argc, char** argv, std::FILE* out, std::FILE* err) {
  uint32_t options = 0;
  std::string file;
  bool haveFile = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--options") {
      if (i + 1 >= argc || !ParseOptions(argv[i + 1], options)) {
        std::fprintf(err, "tobin: --options needs a number from 0 to 4294967295\n");
        return 1;
      }
      ++i;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      std::fprintf(err, "tobin: unknown option %s\n", arg.c_str());
      return 1;
    } else if (haveFile) {
      std::fprintf(err, "tobin: only one FILE may be given\n");
      return 1;
    } else {
      file = arg;
      haveFile = true;
    }
  }
  try {
    const std::string bytes = ReadToolInput(file);
    TStringStream in(bytes);
    IXmlDocument doc = new TXmlDocument();
    doc->LoadFromStream(in);
    TMemoryStream binary;
    doc->SaveBinaryToStream(binary, int(options));
    if (std::fwrite(binary.Memory(), 1, size_t(binary.GetSize()), out) !=
            size_t(binary.GetSize()) ||
        std::fflush(out) != 0) {
      std::fprintf(err, "tobin: cannot write the output\n");
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(err, "%s\n", e.what());
    return 1;
  }
  return 0;
}
