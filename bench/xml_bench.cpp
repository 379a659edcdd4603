// Parsing and saving throughput of the XML library against libxml2 and pugixml,
// on a generated 1 MB document and on a small command document.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <pugixml.hpp>

#include <cstdio>
#include <string>

#include "bench/bench_ratio.h"
#include "bench/xml_bench_binary.h"
#include "xml/xmlSimple.h"

namespace {

std::string Make1MbDocument() {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog version=\"2\">\n";
  int i = 0;
  while (s.size() < 1024 * 1024) {
    s += "  <section id=\"" + std::to_string(i) + "\" name=\"part &amp; whole " +
         std::to_string(i % 97) + "\">\n";
    for (int j = 0; j < 4; ++j) {
      s += "    <item key=\"k" + std::to_string(j) + "\" price=\"" + std::to_string(i * 7 + j) +
           ".25\" flag=\"true\">\n      <title>Item " + std::to_string(j) +
           " of section &lt;" + std::to_string(i) + "&gt; caf\xC3\xA9</title>\n"
           "      <text>Some ordinary text with an entity &quot;here&quot; and a bit more so "
           "that runs are realistic.</text>\n    </item>\n";
    }
    s += "  </section>\n";
    ++i;
  }
  s += "  <raw><![CDATA[<not> & parsed ]]></raw>\n</catalog>\n";
  return s;
}

const std::string& Doc1Mb() {
  static const std::string doc = Make1MbDocument();
  return doc;
}

const std::string kCmd = "<MouseClick><MouseX>120</MouseX><MouseY>45</MouseY></MouseClick>";

const std::string& DocFor(int which) { return which == 0 ? Doc1Mb() : kCmd; }

void OursParse(benchmark::State& state) {
  const std::string& text = DocFor(int(state.range(0)));
  TStringStream stream(text);
  for (auto _ : state) {
    stream.SetPosition(0);
    IXmlDocument doc = new TXmlDocument();
    doc->LoadFromStream(stream);
    benchmark::DoNotOptimize(doc.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void OursSave(benchmark::State& state) {
  TStringStream stream(DocFor(int(state.range(0))));
  IXmlDocument doc = new TXmlDocument();
  doc->LoadFromStream(stream);
  TMemoryStream out;
  for (auto _ : state) {
    out.SetSize(0);
    doc->SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
}

void Libxml2Parse(benchmark::State& state) {
  const std::string& text = DocFor(int(state.range(0)));
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), "bench.xml", nullptr, 0);
    benchmark::DoNotOptimize(doc);
    xmlFreeDoc(doc);
  }
}

void Libxml2Save(benchmark::State& state) {
  const std::string& text = DocFor(int(state.range(0)));
  xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), "bench.xml", nullptr, 0);
  for (auto _ : state) {
    xmlChar* mem = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc, &mem, &size);
    benchmark::DoNotOptimize(mem);
    xmlFree(mem);
  }
  xmlFreeDoc(doc);
}

void PugiParse(benchmark::State& state) {
  const std::string& text = DocFor(int(state.range(0)));
  for (auto _ : state) {
    pugi::xml_document doc;
    doc.load_buffer(text.data(), text.size());
    benchmark::DoNotOptimize(doc.first_child());
  }
}

struct TStringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

void PugiSave(benchmark::State& state) {
  const std::string& text = DocFor(int(state.range(0)));
  pugi::xml_document doc;
  doc.load_buffer(text.data(), text.size());
  for (auto _ : state) {
    TStringWriter w;
    doc.save(w);
    benchmark::DoNotOptimize(w.out.data());
  }
}

BENCHMARK(OursParse)->Arg(0)->Arg(1);
BENCHMARK(Libxml2Parse)->Arg(0)->Arg(1);
BENCHMARK(PugiParse)->Arg(0)->Arg(1);
BENCHMARK(OursSave)->Arg(0)->Arg(1);
BENCHMARK(Libxml2Save)->Arg(0)->Arg(1);
BENCHMARK(PugiSave)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
  TRatioReporter reporter;
  RunRatioBenchmarks(argc, argv, reporter);
  const char* docs[] = {"1mb", "cmd"};
  const char* ops[] = {"parse", "save"};
  const char* ours[] = {"OursParse", "OursSave"};
  const char* lx[] = {"Libxml2Parse", "Libxml2Save"};
  const char* pg[] = {"PugiParse", "PugiSave"};
  for (int d = 0; d < 2; ++d)
    for (int o = 0; o < 2; ++o) {
      const std::string arg = "/" + std::to_string(d);
      // Throughput ratios: above 1 means ours is faster.
      std::printf("ratio %s %s ours/libxml2=%.2f ours/pugixml=%.2f\n", docs[d], ops[o],
                  reporter.Ratio(lx[o] + arg, ours[o] + arg),
                  reporter.Ratio(pg[o] + arg, ours[o] + arg));
    }
  RunBinaryRatios(Doc1Mb(), "1mb");
  return 0;
}
