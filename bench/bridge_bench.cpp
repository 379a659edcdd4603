// bridge_bench: the round trip of PV7APIv1.CallPV7XML (page -> engine library ->
// render helper -> parent on INTF and back, the parent answering at once) against a
// bare synchronous request to the library's reserved address, answered by the
// library itself without a helper. Both run alternately in one page of the same
// Chromium; the program prints the ratio of the medians and both medians in ms.
// This program is also its own render helper.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/cefintrk.h"
#include "engine/cefload.h"
#include "host/channel.h"
#include "host/streamut.h"
#include "osr/ChromiumOSR.h"
#include "platform/mainloop.h"

namespace {

bool Pump(const std::function<bool()>& done, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    platform::ProcessPendingEvents();
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

}  // namespace

int main(int argc, char** argv) {
  EngineLibraryName() = PV7_ENGINE_LIBRARY;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--type=", 7) == 0) {
      ConfigureEngine();
      const bool browser = StartEngine(argc, argv);
      StopEngine();
      return browser ? 1 : 0;
    }
  int rounds = argc > 1 ? std::atoi(argv[1]) : 300;
  if (rounds < 10) rounds = 10;

  // The parent: answers every request at once.
  platform::TcpListener listener;
  std::atomic<bool> stop{false};
  std::shared_ptr<platform::TcpSocket> conn;
  std::thread parent([&] {
    while (!stop) {
      platform::TcpSocket s = listener.Accept(50);
      if (!s.IsOpen()) continue;
      conn = std::make_shared<platform::TcpSocket>(std::move(s));
      try {
        for (;;) {
          streamut::TMemoryStream m;
          ReadMessage(*conn, m);
          if (m.View() == "INTF") continue;
          static const std::string reply = "<Reply ok=\"1\"/>";
          WriteMessage(*conn, reply.data(), int64_t(reply.size()));
        }
      } catch (...) {
      }
    }
  });

  ConfigureEngine();
  char arg0[] = "bridge_bench";
  std::string port = "-drawPort=" + std::to_string(listener.Port());
  char* args[] = {arg0, port.data(), nullptr};
  if (!StartEngine(2, args)) return 1;
  std::string result;
  {
    TChromiumOSR osr;
    osr.OnGetViewRect = [](TObject*, const TBrowserRef&, cef_rect_t* rect, bool& ok) {
      *rect = {0, 0, 200, 100};
      ok = true;
    };
    osr.OnConsoleMessage = [&](TObject*, const TBrowserRef&, const std::u16string& m,
                               const std::u16string&, int, bool&) {
      std::string t = U16ToUtf8(m);
      if (t.rfind("bench ", 0) == 0) result = t;
    };
    osr.Loaded();
    const std::string code =
        "(function(){var n=" + std::to_string(rounds) +
        ",a=[],b=[];"
        "function med(v){v.sort(function(x,y){return x-y});return v[v.length>>1]}"
        "function bare(){var x=new XMLHttpRequest();x.open('POST','https://pv7-native.invalid/call',false);"
        "x.setRequestHeader('Content-Type','text/plain');x.send('{}');return x.responseText}"
        "for(var i=0;i<10;i++){PV7APIv1.CallPV7XML('<R/>');bare()}"
        "for(var i=0;i<n;i++){var t=performance.now();PV7APIv1.CallPV7XML('<R/>');a.push(performance.now()-t);"
        "t=performance.now();bare();b.push(performance.now()-t)}"
        "console.log('bench '+med(a)+' '+med(b))})()";
    cef_browser_t* b = osr.EngineBrowser().get();
    cef_frame_t* f = b->get_main_frame(b);
    const std::u16string c = Utf8ToU16(code), u;
    cef_string_t cv = CefStringView(c), uv = CefStringView(u);
    f->execute_java_script(f, &cv, &uv, 1);
    f->base.release(&f->base);
    Pump([&] { return !result.empty(); }, 120000);
  }
  StopEngine();
  stop = true;
  if (conn) conn->Shutdown();
  parent.join();
  double ours = 0, xhr = 0;
  if (result.empty() || std::sscanf(result.c_str(), "bench %lf %lf", &ours, &xhr) != 2 || xhr <= 0) {
    std::fprintf(stderr, "bridge_bench: no result\n");
    return 1;
  }
  std::printf("median round trip: CallPV7XML %.3f ms, bare request %.3f ms (%d rounds each)\n", ours,
              xhr, rounds);
  std::printf("ratio bridge ours/xhr=%.2f\n", ours / xhr);
  return 0;
}
