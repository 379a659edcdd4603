// The parent application's side of the channel for tests and the soak run: it
// listens on 127.0.0.1, starts pv7host, takes every connection the host opens
// (ACTN, DRAW, CMSG, INTF) and reads their tags in the order they came, reads
// frames on DRAW (or stops reading, or closes it on request), collects console
// texts and answers each INTF request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/channel.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "xml/stream.h"

namespace probe {

class TParentSide {
 public:
  // Answers an INTF request; the default echoes it inside <Reply>.
  using TAnswer = std::function<std::string(const std::string& request)>;

  TParentSide() : FAcceptor([this] { AcceptLoop(); }) {}
  ~TParentSide() { Stop(); }
  TParentSide(const TParentSide&) = delete;
  TParentSide& operator=(const TParentSide&) = delete;

  uint16_t Port() const { return FListener.Port(); }

  // Starts the host in `workDir` with -drawPort of this listener and the extra
  // arguments.
  void StartHost(const std::string& path, std::vector<std::string> args, const std::string& workDir = {}) {
    args.insert(args.begin(), "-drawPort=" + std::to_string(Port()));
    FHost.emplace(platform::ChildProcess::Start(path, args, workDir));
  }
  platform::ChildProcess& Host() { return *FHost; }
  bool HasHost() const { return FHost.has_value(); }

  // Waits until both ACTN and DRAW are open.
  bool WaitChannels(int ms) {
    return WaitFor([&] { return FActn && FDraw; }, ms);
  }

  // Sends one command document on ACTN; false when it cannot be written.
  bool Send(const std::string& doc) {
    std::shared_ptr<platform::TcpSocket> actn;
    {
      std::lock_guard<std::mutex> g(FLock);
      actn = FActn;
    }
    if (!actn) return false;
    std::lock_guard<std::mutex> g(FSendLock);
    try {
      WriteMessage(*actn, doc.data(), int64_t(doc.size()));
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
  // Raw bytes on ACTN (framing up to the caller).
  bool SendRaw(const std::string& bytes) {
    std::shared_ptr<platform::TcpSocket> actn;
    {
      std::lock_guard<std::mutex> g(FLock);
      actn = FActn;
    }
    if (!actn) return false;
    std::lock_guard<std::mutex> g(FSendLock);
    try {
      actn->SendAll(bytes.data(), bytes.size());
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }
  void CloseActn() {
    std::lock_guard<std::mutex> g(FLock);
    if (FActn) FActn->Shutdown();
  }
  // Stops or resumes reading DRAW; a paused reader leaves the host's writes to
  // fill the socket buffers.
  void PauseDraw(bool pause) {
    std::lock_guard<std::mutex> g(FLock);
    FDrawPaused = pause;
    FChanged.notify_all();
  }
  void CloseDraw() {
    std::lock_guard<std::mutex> g(FLock);
    FDrawClosed = true;
    if (FDraw) FDraw->Shutdown();
    FChanged.notify_all();
  }
  void SetAnswer(TAnswer answer) {
    std::lock_guard<std::mutex> g(FLock);
    FAnswer = std::move(answer);
  }

  template <class F>
  bool WaitFor(F done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> g(FLock);
    while (!done()) {
      if (FChanged.wait_until(g, end) == std::cv_status::timeout) return done();
    }
    return true;
  }

  // Counters (under the lock inside WaitFor predicates, or through these).
  long Frames() { std::lock_guard<std::mutex> g(FLock); return FFrames; }
  long long FrameBytes() { std::lock_guard<std::mutex> g(FLock); return FFrameBytes; }
  long IntfRequests() { std::lock_guard<std::mutex> g(FLock); return FIntfRequests; }
  long IntfConnections() { std::lock_guard<std::mutex> g(FLock); return FIntfConnections; }
  long ConsoleCount() { std::lock_guard<std::mutex> g(FLock); return long(FConsole.size()); }
  std::vector<std::string> Console() { std::lock_guard<std::mutex> g(FLock); return FConsole; }
  bool ConsoleHas(const std::string& text) {
    std::lock_guard<std::mutex> g(FLock);
    for (const std::string& t : FConsole)
      if (t.find(text) != std::string::npos) return true;
    return false;
  }
  void ClearConsole() { std::lock_guard<std::mutex> g(FLock); FConsole.clear(); }
  // Keeps a copy of every frame's BMP as the last one (off by default: a copy costs).
  void KeepLastFrame(bool keep) { std::lock_guard<std::mutex> g(FLock); FKeepLast = keep; }
  std::string LastFrame() { std::lock_guard<std::mutex> g(FLock); return FLastFrame; }
  // Width and height of the last frame (0 x 0 before any).
  std::pair<int, int> LastSize() { std::lock_guard<std::mutex> g(FLock); return {FLastW, FLastH}; }

  // Fields the WaitFor predicates may read (the lock is held there).
  long FFrames = 0;
  int FLastW = 0, FLastH = 0;
  std::vector<std::string> FConsole;
  long FIntfRequests = 0;
  long FActnOpened = 0, FDrawOpened = 0;  // connections the host opened

  void Stop() {
    if (FStop.exchange(true)) return;
    {
      std::lock_guard<std::mutex> g(FLock);
      for (auto& s : FSockets) s->Shutdown();
      FChanged.notify_all();
    }
    FAcceptor.join();
    for (std::thread& t : FThreads) t.join();
    FHost.reset();  // a host still running is killed
  }

 private:
  void AcceptLoop() {
    while (!FStop) {
      platform::TcpSocket s;
      try {
        s = FListener.Accept(50);
      } catch (...) {
        continue;
      }
      if (!s.IsOpen()) continue;
      auto sock = std::make_shared<platform::TcpSocket>(std::move(s));
      {
        std::lock_guard<std::mutex> g(FLock);
        if (FStop) return;
        FSockets.push_back(sock);
      }
      // The first message is read here, in the order the connections came, so
      // console texts are seen in the order the host sent them.
      std::string tag;
      try {
        TMemoryStream m;
        ReadMessage(*sock, m, 5000);
        tag = std::string(m.View());
      } catch (...) {
        continue;
      }
      if (!TakeShortChannel(sock, tag)) {
        std::lock_guard<std::mutex> g(FLock);
        FThreads.emplace_back([this, sock, tag] { Serve(sock, tag); });
      }
    }
  }

  // ACTN and CMSG need no thread of their own; false for the others.
  bool TakeShortChannel(const std::shared_ptr<platform::TcpSocket>& s, const std::string& tag) {
    std::lock_guard<std::mutex> g(FLock);
    if (tag == "ACTN") {
      ++FActnOpened;
      FActn = s;
    } else if (tag.rfind("CMSG", 0) == 0) {
      FConsole.push_back(tag.substr(4));
    } else {
      return false;
    }
    FChanged.notify_all();
    return true;
  }

  void Serve(std::shared_ptr<platform::TcpSocket> s, const std::string& tag) {
    try {
      if (tag == "INTF") return ServeIntf(*s);
      if (tag == "DRAW") return ServeDraw(s);
    } catch (...) {
    }
  }

  void ServeDraw(const std::shared_ptr<platform::TcpSocket>& s) {
    {
      std::lock_guard<std::mutex> g(FLock);
      ++FDrawOpened;
      FDraw = s;
      FChanged.notify_all();
    }
    TMemoryStream m;
    for (;;) {
      {
        std::unique_lock<std::mutex> g(FLock);
        FChanged.wait(g, [&] { return !FDrawPaused || FStop || FDrawClosed; });
        if (FStop || FDrawClosed) {
          // A real close: with frames left unread it resets the connection, which
          // is what wakes a host blocked writing to it.
          s->Close();
          return;
        }
      }
      m.SetSize(0);
      try {
        ReadMessage(*s, m);  // until the host closes DRAW
      } catch (...) {
        std::lock_guard<std::mutex> g(FLock);
        s->Close();
        throw;
      }
      int w = 0, h = 0;
      if (m.GetSize() >= 54) {
        std::memcpy(&w, static_cast<const char*>(m.Memory()) + 18, 4);
        std::memcpy(&h, static_cast<const char*>(m.Memory()) + 22, 4);
      }
      std::lock_guard<std::mutex> g(FLock);
      ++FFrames;
      FFrameBytes += m.GetSize();
      FLastW = w;
      FLastH = h;
      if (FKeepLast) FLastFrame.assign(m.View());
      FChanged.notify_all();
    }
  }

  void ServeIntf(platform::TcpSocket& s) {
    {
      std::lock_guard<std::mutex> g(FLock);
      ++FIntfConnections;
    }
    TMemoryStream m;
    for (;;) {
      m.SetSize(0);
      ReadMessage(s, m);
      std::string request(m.View());
      TAnswer answer;
      {
        std::lock_guard<std::mutex> g(FLock);
        ++FIntfRequests;
        answer = FAnswer;
        FChanged.notify_all();
      }
      std::string reply = answer ? answer(request) : "<Reply>" + request + "</Reply>";
      WriteMessage(s, reply.data(), int64_t(reply.size()));
    }
  }

  platform::TcpListener FListener;
  std::atomic<bool> FStop{false};
  std::mutex FLock;      // guards everything below and the public fields
  std::mutex FSendLock;  // one ACTN message at a time
  std::condition_variable FChanged;
  std::shared_ptr<platform::TcpSocket> FActn, FDraw;
  bool FDrawPaused = false, FDrawClosed = false;
  bool FKeepLast = false;
  std::string FLastFrame;
  long long FFrameBytes = 0;
  long FIntfConnections = 0;
  TAnswer FAnswer;
  std::vector<std::shared_ptr<platform::TcpSocket>> FSockets;
  std::vector<std::thread> FThreads;
  std::thread FAcceptor;
  std::optional<platform::ChildProcess> FHost;
};

}  // namespace probe
