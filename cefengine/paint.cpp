#include "paint.h"

#include <algorithm>

namespace cefeng {

Pixels FrameDecoder::FreeBuffer() {
  for (const Pixels& p : buffers_)
    if (p.use_count() == 1) return p;
  return std::make_shared<std::vector<uint8_t>>();
}

bool FrameDecoder::Decode(const std::string& base64Png, Frame& out) {
  if (!Base64Decode(base64Png, png_)) return false;
  Pixels buf = FreeBuffer();  // never prev_'s, which prev_ itself still holds
  int w = 0, h = 0;
  // The frame is compared with the previous one row by row as it is decoded.
  FrameDiff diff{prev_ ? prev_->data() : nullptr, prevW_, prevH_, {}};
  if (!DecodePngBgra(png_.data(), png_.size(), *buf, w, h, decoder_, &diff)) return false;
  if (std::find(buffers_.begin(), buffers_.end(), buf) == buffers_.end() && buffers_.size() < kBuffers)
    buffers_.push_back(buf);
  out.width = w;
  out.height = h;
  out.changed = std::move(diff.changed);
  if (out.changed.empty()) return true;  // nothing to deliver
  prev_ = buf;
  prevW_ = w;
  prevH_ = h;
  out.pixels = std::move(buf);
  return true;
}

PaintPipeline::PaintPipeline(Session& session, int frameRate, PngDecoder decoder, DecodedFn decoded)
    : session_(session), intervalUs_(1000000u / static_cast<unsigned>(frameRate)),
      decoded_(std::move(decoded)), decoder_(std::make_shared<FrameDecoder>(decoder)) {}

void PaintPipeline::FrameArrived(json params, uint64_t arrivedUs, bool decode) {
  int ackId = IntField(params, "sessionId");
  bool ackNow;
  {
    // With no paint waiting for the main thread the next frame may be produced while
    // this one is decoded; otherwise the acknowledgement waits for the delivery, so a
    // slow main thread slows Chromium down (and the frame rate stays near the cap).
    std::lock_guard<std::mutex> lock(handoffMutex_);
    ackNow = !pending_;
    if (!ackNow) {
      heldAck_ = true;
      heldAckId_ = ackId;
    }
  }
  if (ackNow) session_.Send("Page.screencastFrameAck", {{"sessionId", ackId}});
  auto data = params.find("data");
  if (!decode || data == params.end() || !data->is_string()) return;
  session_.PostPaint([this, png = std::move(data->get_ref<std::string&>()), arrivedUs] {
    FrameDecoder::Frame frame;
    if (!decoder_->Decode(png, frame)) return;
    session_.Post([this, frame = std::move(frame), arrivedUs]() mutable { Decoded(std::move(frame), arrivedUs); });
  });
}

void PaintPipeline::Decoded(FrameDecoder::Frame frame, uint64_t arrivedUs) {
  if (decoded_) decoded_(frame.width, frame.height, arrivedUs);
  if (frame.changed.empty()) return;
  Offer(frame);
  // The paint need not wait for the main loop's next engine tick.
  session_.WakeMain();
}

void PaintPipeline::Offer(FrameDecoder::Frame& frame) {
  std::lock_guard<std::mutex> lock(handoffMutex_);
  bool sameSize = pending_ && pendingW_ == frame.width && pendingH_ == frame.height;
  if (sameSize)
    UniteRects(pendingRects_, frame.changed);
  else
    pendingRects_ = std::move(frame.changed);
  pending_ = std::move(frame.pixels);
  pendingW_ = frame.width;
  pendingH_ = frame.height;
}

void PaintPipeline::DropHeldAck() {
  std::lock_guard<std::mutex> lock(handoffMutex_);
  heldAck_ = false;
}

uint64_t PaintPipeline::Deliver(uint64_t nowUs, const PaintFn& paint) {
  Pixels pixels;
  std::vector<Rect> rects;
  int w, h, ackId;
  bool ack;
  {
    std::lock_guard<std::mutex> lock(handoffMutex_);
    if (!pending_) return 0;
    if (nowUs + kEarlyDeliveryUs < nextDueUs_) return nextDueUs_ - kEarlyDeliveryUs;
    nextDueUs_ = nowUs > nextDueUs_ + intervalUs_ ? nowUs + intervalUs_ : nextDueUs_ + intervalUs_;
    pixels = std::move(pending_);
    pending_.reset();
    rects.swap(pendingRects_);
    w = pendingW_;
    h = pendingH_;
    ack = heldAck_;
    ackId = heldAckId_;
    heldAck_ = false;
  }
  if (ack) session_.Post([this, ackId] { session_.Send("Page.screencastFrameAck", {{"sessionId", ackId}}); });
  paint(rects, pixels->data(), w, h);
  return 0;
}

}  // namespace cefeng
