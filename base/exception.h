// The general exception class: every failure of this system is raised as an
// exception carrying its message text.
#pragma once

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const char* what() const noexcept override { return FMessage.c_str(); }
  const std::string& Message() const noexcept { return FMessage; }

 private:
  std::string FMessage;
};

// Raised by the general conversions (text to integer, float, date-time).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Raised by streams whose read, write or open fails.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
