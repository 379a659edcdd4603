#include "host/commandthread.h"

#include <chrono>
#include <thread>

#include "host/streamut.h"
#include "platform/process.h"

void TThreadDone::Signal() {
  std::lock_guard<std::mutex> guard(FLock);
  FDone = true;
  FChanged.notify_all();
}

bool TThreadDone::Wait(int timeoutMs) {
  std::unique_lock<std::mutex> guard(FLock);
  return FChanged.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return FDone; });
}

TGoGoThread::TGoGoThread(std::shared_ptr<TTcpClient> client, TDispatch dispatch)
    : FClient(std::move(client)), FDispatch(std::move(dispatch)) {}

void TGoGoThread::Start() {
  std::thread([this] {
    platform::SetCurrentThreadName("command");
    Execute();
    std::shared_ptr<TThreadDone> done = FDone;
    delete this;
    done->Signal();
  }).detach();
}

// One reused buffer; an empty message is skipped. Any error (parse, conversion,
// engine call, the socket) ends the loop silently. The peer's close ends it too:
// after a graceful close every further read would fail at once.
void TGoGoThread::Execute() {
  streamut::TMemoryStream buffer;
  try {
    while (!FTerminated) {
      buffer.SetSize(0);
      if (!FClient || !FClient->HasSocket()) throw Exception("IO Handler is empty");
      try {
        ReadMessage(FClient->Socket(), buffer);
      } catch (const platform::EGracefulClose&) {
        break;
      }
      buffer.SetPosition(0);
      if (buffer.GetSize() > 0) FDispatch(*this, buffer);
    }
  } catch (...) {
    // The reader ends; the host keeps running without commands.
  }
}
