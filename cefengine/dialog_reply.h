// A JavaScript dialog of a page (or its question before it is left) and the one
// answer it gets.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace cefeng {

struct DialogInfo {
  enum Type { kAlert, kConfirm, kPrompt, kBeforeUnload };
  Type type = kAlert;
  std::string message;
  std::string defaultText;  // a prompt's preset text
  std::string url;          // the page that opened it
};

// Answers a dialog once, from any thread; later answers are ignored. An answer
// dropped unanswered gives the default: an alert acknowledged, a confirm and a prompt
// dismissed, the page left.
class DialogReply {
 public:
  using SendFn = std::function<void(bool accept, const std::string& text)>;
  DialogReply(DialogInfo::Type type, SendFn send) : type_(type), send_(std::move(send)) {}
  ~DialogReply() { Default(); }
  DialogReply(const DialogReply&) = delete;
  DialogReply& operator=(const DialogReply&) = delete;

  void Answer(bool accept, const std::string& text) {
    if (!done_.exchange(true)) send_(accept, text);
  }
  void Default() { Answer(type_ == DialogInfo::kAlert || type_ == DialogInfo::kBeforeUnload, std::string()); }

 private:
  const DialogInfo::Type type_;
  const SendFn send_;
  std::atomic<bool> done_{false};
};

using DialogAnswer = std::shared_ptr<DialogReply>;

}  // namespace cefeng
