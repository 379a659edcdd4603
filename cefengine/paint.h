// A browser's paints: screencast frames acknowledged (at once, or when the waiting
// paint is delivered), decoded on the paint thread against the previous frame,
// handed back to the sequence, and delivered on the main thread at most at the frame
// rate, coalescing what came meanwhile.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "image.h"
#include "session.h"

namespace cefeng {

using Pixels = std::shared_ptr<std::vector<uint8_t>>;

// The paint thread's part: the previous frame and a few buffers to decode into.
class FrameDecoder {
 public:
  static constexpr size_t kBuffers = 4;
  struct Frame {
    Pixels pixels;
    int width = 0, height = 0;
    std::vector<Rect> changed;  // empty: nothing changed
  };
  explicit FrameDecoder(PngDecoder decoder) : decoder_(decoder) {}
  // False when the data is not a frame.
  bool Decode(const std::string& base64Png, Frame& out);

 private:
  Pixels FreeBuffer();
  PngDecoder decoder_;
  Pixels prev_;  // the last frame that changed something; never written again
  int prevW_ = 0, prevH_ = 0;
  std::vector<Pixels> buffers_;
  std::vector<uint8_t> png_;
};

class PaintPipeline {
 public:
  // A tick that comes up to this early still delivers, so that a 10 ms pump reaches
  // the full rate.
  static constexpr uint64_t kEarlyDeliveryUs = 5000;
  using DecodedFn = std::function<void(int w, int h, uint64_t arrivedUs)>;
  using PaintFn = std::function<void(const std::vector<Rect>&, const uint8_t*, int, int)>;

  PaintPipeline(Session& session, int frameRate, PngDecoder decoder, DecodedFn decoded);

  // Sequence: a screencast frame came (arrivedUs as its start counted it). It is
  // acknowledged now unless a paint waits for the main thread; decoded when `decode`.
  void FrameArrived(json params, uint64_t arrivedUs, bool decode);
  // Sequence: the acknowledgement held for a screencast that is gone is dropped.
  void DropHeldAck();
  // Main thread: delivers the waiting paint if it is due; else returns when it is
  // (0: no paint waits).
  uint64_t Deliver(uint64_t nowUs, const PaintFn& paint);

 private:
  void Decoded(FrameDecoder::Frame frame, uint64_t arrivedUs);
  void Offer(FrameDecoder::Frame& frame);

  Session& session_;
  const uint64_t intervalUs_;
  DecodedFn decoded_;
  std::shared_ptr<FrameDecoder> decoder_;  // paint thread only
  uint64_t nextDueUs_ = 0;                 // main thread only

  std::mutex handoffMutex_;  // guards the paint waiting for the main thread and the held ack
  Pixels pending_;
  std::vector<Rect> pendingRects_;
  int pendingW_ = 0, pendingH_ = 0;
  bool heldAck_ = false;
  int heldAckId_ = 0;
};

}  // namespace cefeng
