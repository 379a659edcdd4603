#include "frame_tree.h"

namespace cefeng {

FrameTree::FrameTree() : view_(std::make_shared<View>()) {}

void FrameTree::Reattached() {
  auto old = ids_.find(main_);
  int64_t mainId = old != ids_.end() ? old->second : nextId_++;
  auto url = urls_.find(mainId);
  std::string address = url != urls_.end() ? url->second : std::string();
  ids_.clear();
  devtoolsIds_.clear();
  urls_.clear();
  names_.clear();
  contexts_.clear();
  main_.clear();
  ids_[main_] = mainId;
  devtoolsIds_[mainId] = main_;
  if (!address.empty()) urls_[mainId] = address;
  Publish();
}

void FrameTree::SetMain(const std::string& devtoolsId) {
  auto it = ids_.find(main_);
  if (it == ids_.end() || main_ == devtoolsId) return;
  int64_t mainId = it->second;
  ids_.erase(it);
  ids_[devtoolsId] = mainId;
  devtoolsIds_[mainId] = devtoolsId;
  main_ = devtoolsId;
  Publish();
}

int64_t FrameTree::IdFor(const std::string& devtoolsId) {
  auto it = ids_.find(devtoolsId);
  if (it != ids_.end()) return it->second;
  int64_t id = nextId_++;
  ids_[devtoolsId] = id;
  devtoolsIds_[id] = devtoolsId;
  Publish();
  return id;
}

std::string FrameTree::DevToolsId(int64_t id) const {
  if (id <= 0) return main_;
  auto it = devtoolsIds_.find(id);
  return it == devtoolsIds_.end() ? std::string() : it->second;
}

void FrameTree::Detached(const std::string& devtoolsId) {
  auto it = ids_.find(devtoolsId);
  if (it == ids_.end()) return;
  devtoolsIds_.erase(it->second);
  ids_.erase(it);
  Publish();
}

int64_t FrameTree::Navigated(const std::string& devtoolsId, const std::string& url,
                             const std::string& name, bool isMain, bool errorPage) {
  int64_t id = IdFor(devtoolsId);
  if (isMain) main_ = devtoolsId;
  if (!errorPage) urls_[id] = url;
  names_[id] = name;
  Publish();
  return id;
}

std::string FrameTree::LastAddress() const {
  auto id = ids_.find(main_);
  if (id == ids_.end()) return std::string();
  auto url = urls_.find(id->second);
  return url == urls_.end() ? std::string() : url->second;
}

void FrameTree::SetContext(const std::string& devtoolsId, int contextId) { contexts_[devtoolsId] = contextId; }

void FrameTree::ClearContexts() { contexts_.clear(); }

int FrameTree::Context(const std::string& devtoolsId) const {
  auto it = contexts_.find(devtoolsId);
  return it == contexts_.end() ? -1 : it->second;
}

void FrameTree::Publish() {
  auto view = std::make_shared<View>();
  auto main = ids_.find(main_);
  if (main == ids_.end()) {  // the main frame always has an id
    main = ids_.emplace(main_, nextId_).first;
    devtoolsIds_[nextId_++] = main_;
  }
  view->mainId = main->second;
  view->mainKnown = !main_.empty();
  for (const auto& [id, devtoolsId] : devtoolsIds_) view->known[id] = !devtoolsId.empty();
  view->urls = urls_;
  view->names = names_;
  std::lock_guard<std::mutex> lock(viewMutex_);
  view_ = std::move(view);
}

std::shared_ptr<const FrameTree::View> FrameTree::Published() const {
  std::lock_guard<std::mutex> lock(viewMutex_);
  return view_;
}

int64_t FrameTree::MainId() const { return Published()->mainId; }

bool FrameTree::Known(int64_t id) const {
  auto view = Published();
  if (id <= 0) return view->mainKnown;
  auto it = view->known.find(id);
  return it != view->known.end() && it->second;
}

std::string FrameTree::Url(int64_t id) const {
  auto view = Published();
  auto it = view->urls.find(id);
  return it == view->urls.end() ? std::string() : it->second;
}

std::string FrameTree::Name(int64_t id) const {
  auto view = Published();
  auto it = view->names.find(id);
  return it == view->names.end() ? std::string() : it->second;
}

}  // namespace cefeng
