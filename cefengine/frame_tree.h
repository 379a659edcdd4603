// A browser's frames: DevTools frame ids mapped to the engine's numeric ids, their
// addresses, window names and default script contexts. Written on the sequence; a
// copy of what other threads ask for (main id, validity, address, name) is published
// after every change.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace cefeng {

class FrameTree {
 public:
  FrameTree();

  // Sequence.
  // A new page target: everything learnt about the old page is forgotten but the
  // main frame's id and address.
  void Reattached();
  // The main frame's DevTools id, once known; it keeps the id the browser gave it.
  void SetMain(const std::string& devtoolsId);
  int64_t IdFor(const std::string& devtoolsId);
  // "" when unknown; id <= 0 is the main frame.
  std::string DevToolsId(int64_t id) const;
  const std::string& MainDevToolsId() const { return main_; }
  int64_t MainIdNow() { return IdFor(main_); }
  void Detached(const std::string& devtoolsId);
  // A committed navigation; returns the frame's id. An error page keeps the address.
  int64_t Navigated(const std::string& devtoolsId, const std::string& url, const std::string& name,
                    bool isMain, bool errorPage);
  std::string LastAddress() const;
  void SetContext(const std::string& devtoolsId, int contextId);
  void ClearContexts();
  // The frame's default script context; -1 when none is known.
  int Context(const std::string& devtoolsId) const;

  // Any thread: the published copy.
  int64_t MainId() const;
  bool Known(int64_t id) const;
  std::string Url(int64_t id) const;
  std::string Name(int64_t id) const;

 private:
  struct View {
    int64_t mainId = 0;
    bool mainKnown = false;
    std::map<int64_t, bool> known;  // ids with a DevTools frame
    std::map<int64_t, std::string> urls;
    std::map<int64_t, std::string> names;
  };
  void Publish();
  std::shared_ptr<const View> Published() const;

  // Sequence only.
  std::map<std::string, int64_t> ids_;
  std::map<int64_t, std::string> devtoolsIds_;
  std::map<int64_t, std::string> urls_;
  std::map<int64_t, std::string> names_;
  std::map<std::string, int> contexts_;
  int64_t nextId_ = 1;
  std::string main_;

  mutable std::mutex viewMutex_;  // guards view_
  std::shared_ptr<const View> view_;
};

}  // namespace cefeng
