// Frame publishing cost: composing the popup over the view and encoding the whole
// 1920 x 1080 view as a BMP message, against one plain copy of the frame.
#include <cstring>
#include <vector>

#include "bench/bench_ratio.h"
#include "host/framebitmap.h"
#include "xml/stream.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct TFixture {
  TFrameBitmap view, popup;
  std::vector<uint8_t> paint;
  TFixture() {
    view.SetSize(kWidth, kHeight);
    popup.SetSize(200, 100);
    paint.resize(size_t(kWidth) * kHeight * 4);
    for (size_t i = 0; i < paint.size(); ++i) paint[i] = uint8_t(i * 31);
    TPixelRect all{0, 0, kWidth, kHeight};
    CopyDirtyRects(view, paint.data(), kWidth, kHeight, 1, &all);
  }
};

TFixture& Fixture() {
  static TFixture f;
  return f;
}

void BM_PublishOurs(benchmark::State& state) {
  TFixture& f = Fixture();
  TMemoryStream message;
  for (auto _ : state) {
    DrawBitmap(f.popup, f.view, 100, 100);
    EncodeBmpToStream(f.view, message);
    benchmark::DoNotOptimize(message.Memory());
  }
}
BENCHMARK(BM_PublishOurs)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_PublishMemcpy(benchmark::State& state) {
  TFixture& f = Fixture();
  std::vector<uint8_t> copy(f.paint.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), f.view.Pixels(), copy.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PublishMemcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  TRatioReporter reporter;
  RunRatioBenchmarks(argc, argv, reporter);
  std::printf("ratio publish ours/memcpy=%.2f\n", reporter.Ratio("BM_PublishOurs", "BM_PublishMemcpy"));
  return 0;
}
