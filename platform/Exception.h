#pragma once
// The platform's exception classes: every error that carries a message for the user
// derives from Exception.

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// A text that does not convert to the number or date-time asked for.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A file that cannot be opened, read or written.
class EFileError : public Exception {
 public:
  using Exception::Exception;
};

// A database error: a refused statement, a value that does not suit its column.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};
