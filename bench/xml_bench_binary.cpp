// Binary against text load and save of the 1 MB document. Each round times the
// text and binary operation one after the other; the best time of each is kept.
#include "bench/xml_bench_binary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include "xml/xmlSimple.h"

namespace {

double Seconds(const std::function<void()>& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

void RunBinaryRatios(const std::string& doc1mb) {
  IXmlDocument doc = new TXmlDocument();
  doc->LoadFromString(doc1mb);
  TMemoryStream textForm;
  doc->SaveToStream(textForm);
  const std::string text(textForm.View());
  const std::string binary = doc->GetBinaryXml();

  double loadText = 1e9, loadBin = 1e9, saveText = 1e9, saveBin = 1e9;
  for (int round = 0; round < 7; ++round) {
    loadText = std::min(loadText, Seconds([&] {
      TStringStream in(text);
      IXmlDocument d = new TXmlDocument();
      d->LoadFromStream(in);
    }));
    loadBin = std::min(loadBin, Seconds([&] {
      TStringStream in(binary);
      IXmlDocument d = new TXmlDocument();
      d->LoadFromStream(in);
    }));
    saveText = std::min(saveText, Seconds([&] {
      TMemoryStream out;
      doc->SaveToStream(out);
    }));
    saveBin = std::min(saveBin, Seconds([&] {
      TMemoryStream out;
      doc->SaveBinaryToStream(out, 0);
    }));
  }
  std::printf("ratio 1mb binload ours-binary/ours-text=%.2f\n", loadBin / loadText);
  std::printf("ratio 1mb binsave ours-binary/ours-text=%.2f\n", saveBin / saveText);
  std::printf("size 1mb text=%zu binary=%zu\n", text.size(), binary.size());
}
