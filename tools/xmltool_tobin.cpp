// xmltool tobin [--options N] [FILE]: loads a document (text or binary form,
// from FILE or standard input) and writes its binary form to standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xml/xmlSimple.h"

namespace {

// Writes the saved bytes to standard output as they are flushed.
class TStdoutStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    return int64_t(std::fwrite(buffer, 1, size_t(count), stdout));
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return FSize; }
  void SetSize(int64_t) override {}
  int64_t GetSize() override { return FSize; }

 private:
  int64_t FSize = 0;
};

}  // namespace

// argv[1] is "tobin". Returns the process exit code: 0, 1 on a load or save
// error (its message on standard error), 2 on bad arguments.
int RunToBin(int argc, char** argv) {
  int options = 0;
  std::string file;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--options")) {
      char* end = nullptr;
      if (i + 1 >= argc) {
        std::fputs("xmltool: --options needs a number\n", stderr);
        return 2;
      }
      const long v = std::strtol(argv[++i], &end, 0);
      if (!*argv[i] || *end) {
        std::fprintf(stderr, "xmltool: bad --options value %s\n", argv[i]);
        return 2;
      }
      options = int(v);
    } else if (file.empty()) {
      file = argv[i];
    } else {
      std::fprintf(stderr, "xmltool: unexpected argument %s\n", argv[i]);
      return 2;
    }
  }
  try {
    std::string bytes;
    if (file.empty() || file == "-") {
      char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof(buf), stdin)) > 0) bytes.append(buf, n);
    } else {
      TFileStream in(file, TFileMode::fmOpenRead);
      bytes.resize(size_t(in.GetSize()));
      in.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    }
    TStringStream stream(bytes);
    IXmlDocument doc = new TXmlDocument();
    doc->LoadFromStream(stream);
    TStdoutStream out;
    doc->SaveBinaryToStream(out, options);
    std::fflush(stdout);
    return 0;
  } catch (const Exception& e) {
    const std::string& m = e.Message();
    std::fwrite(m.data(), 1, m.size(), stderr);
    std::fputc('\n', stderr);
    return 1;
  }
}
