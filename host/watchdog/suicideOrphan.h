// suicideOrphan: ends the host at once when its parent process has ended.
#pragma once

#include <memory>

class ISuicideOrphan {
 public:
  virtual ~ISuicideOrphan() = default;
  // Starts watching the process (0, or a process that cannot be opened: nothing is
  // watched). Returns this same watcher.
  virtual std::shared_ptr<ISuicideOrphan> Watch(int processId) = 0;
  // Whether a watch thread runs (for tests and diagnostics).
  virtual bool Watching() const = 0;
};

using ISuicideOrphanRef = std::shared_ptr<ISuicideOrphan>;

// A watcher that ends the process with exitCode when the watched process ends.
// Releasing the last reference stops the watch thread (within about 500 ms).
ISuicideOrphanRef NewSuicideOrphan(int exitCode);
