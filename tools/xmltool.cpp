// xmltool: load an XML document (text or binary form) and write it back as text,
// or print its tree.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "tools/xmltool_tobin.h"
#include "xml/xmlSimple.h"

namespace {

const char kUsage[] =
    "usage: xmltool COMMAND [OPTIONS] [FILE]\n"
    "Reads FILE, or standard input when FILE is absent or '-'.\n"
    "\n"
    "  cat  [--preserve-whitespace] [FILE]  load, then save as text to standard output\n"
    "  dump [--preserve-whitespace] [FILE]  print the tree, one line per node\n"
    "  tobin [--options N] [FILE]           load, then write the binary form to standard output\n"
    "                                       (options bit 0: strings as UTF-16)\n"
    "  --help                               this text\n"
    "  --version                            the version\n"
    "\n"
    "dump lines: element NAME NAME=TYPE:\"VALUE\"..., text TYPE:\"TEXT\", cdata \"TEXT\",\n"
    "comment \"TEXT\", pi TARGET \"DATA\" NAME=TYPE:\"VALUE\"...; two spaces of indent per\n"
    "level. On an error its message is the only line on standard error (exit status 1).\n";

// Standard output as a stream.

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 32 || c > 126) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\x%02X", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

void DumpAttrs(const TXmlNode& node, std::string& out) {
  for (int i = 0; i < node.GetAttrCount(); ++i) {
    const TXmlAttrData& a = node.GetAttr(i);
    // Piece by piece: GCC 12 at -O3 misreads " " + a temporary as an overlapping copy.
    out += ' ';
    out += TXmlNameTable::GetName(a.name);
    out += '=';
    out += std::to_string(node.GetAttrType(a.name));
    out += ':';
    out += Quote(a.value.ToText());
  }
}

void Dump(const TXmlNode& node, int depth, std::string& out) {
  TXmlNodeList* list = node.ChildrenOrNull();
  if (!list) return;
  for (int i = 0; i < list->GetCount(); ++i) {
    TXmlNode* n = list->Item(i);
    out.append(size_t(depth) * 2, ' ');
    switch (n->GetNodeType()) {
      case 1:
        out += "element " + n->GetNodeName();
        DumpAttrs(*n, out);
        break;
      case 2: out += "text " + std::to_string(n->GetDataType()) + ":" + Quote(n->GetText()); break;
      case 3: out += "cdata " + Quote(n->GetText()); break;
      case 5: out += "comment " + Quote(n->GetText()); break;
      case 4:
        out += "pi " + n->GetNodeName() + " " + Quote(n->GetText());
        DumpAttrs(*n, out);
        break;
      default: out += "node " + n->GetNodeName(); break;
    }
    out += '\n';
    Dump(*n, depth + 1, out);
  }
}

IXmlDocument Load(const std::string& file, bool preserve) {
  const std::string bytes = ReadToolInput(file);
  TStringStream stream(bytes);
  IXmlDocument doc = new TXmlDocument();
  doc->SetPreserveWhiteSpace(preserve);
  doc->LoadFromStream(stream);
  return doc;
}

void WriteOut(const void* data, size_t size) {
  if (std::fwrite(data, 1, size, stdout) != size || std::fflush(stdout) != 0)
    throw Exception("Cannot write the output");
}

// Each subcommand works on the loaded document and writes its result to
// standard output. Further subcommands (such as a binary conversion) go here.
void Cat(TXmlDocument& doc) {
  TMemoryStream out;
  doc.SaveToStream(out);
  WriteOut(out.Memory(), size_t(out.GetSize()));
}

void DumpTree(TXmlDocument& doc) {
  std::string out;
  Dump(doc, 0, out);
  WriteOut(out.data(), out.size());
}

struct TCommand {
  const char* name;
  void (*run)(TXmlDocument& doc);
};

constexpr TCommand kCommands[] = {
    {"cat", Cat},
    {"dump", DumpTree},
};

int Run(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::fputs("xmltool " PV7_VERSION "\n", stdout);
    return 0;
  }
  if (!std::strcmp(argv[1], "tobin")) return RunToBin(argc - 1, argv + 1);
  const TCommand* command = nullptr;
  for (const TCommand& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) command = &c;
  if (!command) {
    std::fprintf(stderr, "xmltool: unknown command %s (see --help)\n", argv[1]);
    return 2;
  }
  bool preserve = false;
  std::string file;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--preserve-whitespace")) preserve = true;
    else if (file.empty()) file = argv[i];
    else {
      std::fprintf(stderr, "xmltool: unexpected argument %s\n", argv[i]);
      return 2;
    }
  }
  try {
    IXmlDocument doc = Load(file, preserve);
    command->run(*doc);
    return 0;
  } catch (const Exception& e) {
    const std::string& m = e.Message();
    std::fwrite(m.data(), 1, m.size(), stderr);
    std::fputc('\n', stderr);
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xmltool: %s\n", e.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
