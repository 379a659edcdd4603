#include "host/consolesender.h"

#include <thread>

#include "host/channel.h"
#include "platform/process.h"

TConsoleSender::TConsoleSender(std::string host, uint16_t port)
    : FState(std::make_shared<TState>()) {
  // The thread holds the state itself, so it may outlive this object.
  std::thread(Run, FState, std::move(host), port).detach();
}

TConsoleSender::~TConsoleSender() {
  std::unique_lock<std::mutex> guard(FState->lock);
  FState->stop = true;
  FState->drainUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMs);
  FState->changed.notify_all();
  FState->changed.wait_until(guard, FState->drainUntil, [this] { return FState->done; });
}

bool TConsoleSender::Post(std::string text) {
  std::lock_guard<std::mutex> guard(FState->lock);
  if (FState->stop || FState->waiting.size() >= kMaxWaitingTexts ||
      FState->waitingBytes + text.size() > kMaxWaitingBytes)
    return false;
  FState->waitingBytes += text.size();
  FState->waiting.push_back(std::move(text));
  FState->changed.notify_all();
  return true;
}

// One text at a time: the next connection is opened only after the previous one
// was written and closed.
void TConsoleSender::Run(std::shared_ptr<TState> state, std::string host, uint16_t port) {
  platform::SetCurrentThreadName("console");
  std::unique_lock<std::mutex> guard(state->lock);
  for (;;) {
    state->changed.wait(guard, [&] { return state->stop || !state->waiting.empty(); });
    if (state->waiting.empty()) break;
    if (state->stop && std::chrono::steady_clock::now() >= state->drainUntil) break;
    std::string text = std::move(state->waiting.front());
    state->waiting.pop_front();
    state->waitingBytes -= text.size();
    guard.unlock();
    try {
      SendConsoleText(host, port, text);
    } catch (const std::exception&) {
      // This text is lost (the parent refused it); the next one tries again.
    }
    guard.lock();
  }
  state->waiting.clear();
  state->waitingBytes = 0;
  state->done = true;
  state->changed.notify_all();
}
