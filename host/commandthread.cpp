#include "host/commandthread.h"

#include <chrono>
#include <cstdio>
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
// engine call, the socket) ends the loop with its reason on standard error and
// closes ACTN, so the parent sees that no further command is read. The peer's
// close ends it too: after a graceful close every further read would fail at once.
void TGoGoThread::Execute() {
  if (!ReadCommands()) CloseConnection();
}

void TGoGoThread::CloseConnection() {
  if (FClient) FClient->Shutdown();
}

bool TGoGoThread::ReadCommands() {
  streamut::TMemoryStream buffer;
  try {
    while (!FTerminated) {
      buffer.SetSize(0);
      if (!FClient || !FClient->HasSocket()) throw Exception("IO Handler is empty");
      try {
        ReadMessage(FClient->Socket(), buffer);
      } catch (const platform::EGracefulClose&) {
        return true;
      }
      buffer.SetPosition(0);
      if (buffer.GetSize() > 0) FDispatch(*this, buffer);
    }
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pv7host: the command reader ended: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "pv7host: the command reader ended\n");
  }
  // The host keeps running without commands.
  return false;
}
