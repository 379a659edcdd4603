// Binary form against text form: load and save times and sizes of one document.
#include "bench/xml_bench_binary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <limits>

#include "xml/xmlSimple.h"

namespace {

volatile size_t gSink = 0;

double Seconds(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Best time of each of two operations over interleaved rounds, so both see the
// same machine load.
void BestOf(const std::function<void()>& a, const std::function<void()>& b, double& ta,
            double& tb) {
  ta = tb = std::numeric_limits<double>::max();
  for (int round = 0; round < 15; ++round) {
    ta = std::min(ta, Seconds(a));
    tb = std::min(tb, Seconds(b));
  }
}

}  // namespace

void RunBinaryRatios(const std::string& text, const char* label) {
  IXmlDocument doc = LoadXmlDocumentFromString(text);
  const std::string binary = doc->GetBinaryXml();
  TMemoryStream textForm;
  doc->SaveToStream(textForm);

  double binLoad = 0, textLoad = 0;
  BestOf(
      [&] {
        IXmlDocument d = new TXmlDocument();
        TStringStream in(binary);
        d->LoadFromStream(in);
        gSink = gSink + d->GetChildNodes()->GetCount();
      },
      [&] {
        IXmlDocument d = new TXmlDocument();
        TStringStream in(text);
        d->LoadFromStream(in);
        gSink = gSink + d->GetChildNodes()->GetCount();
      },
      binLoad, textLoad);

  double binSave = 0, textSave = 0;
  BestOf(
      [&] {
        TMemoryStream out;
        doc->SaveBinaryToStream(out, 0);
        gSink = gSink + size_t(out.GetSize());
      },
      [&] {
        TMemoryStream out;
        doc->SaveToStream(out);
        gSink = gSink + size_t(out.GetSize());
      },
      binSave, textSave);

  std::printf("size %s text=%lld binary=%zu\n", label, static_cast<long long>(textForm.GetSize()),
              binary.size());
  std::printf("ratio %s binload ours-binary/ours-text=%.2f\n", label, binLoad / textLoad);
  std::printf("ratio %s binsave ours-binary/ours-text=%.2f\n", label, binSave / textSave);
}
