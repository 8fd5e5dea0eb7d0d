#pragma once
// The platform's exception classes: every error that carries a message for the user
// derives from Exception.

#include <stdexcept>
#include <string>
#include <utility>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message), message_(message) {}
  const char* what() const noexcept override { return message_.c_str(); }
  std::string Message() const { return message_; }
  // Adds `note` to the end of the message. A handler that knows more about what the error
  // did (a rolled-back transaction, rows that were not saved) adds it and rethrows the
  // same object with `throw;`, so that its type and what it carries stay as they were.
  void AppendNote(const std::string& note) { message_ += note; }

 private:
  std::string message_;
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

// A database error: a refused statement, a value that does not suit its column. When the
// database engine refused something, the error also carries the engine's own code and
// text besides the composed message: the code is SQLite's extended result code in
// decimal ("2067" for a unique constraint) or PostgreSQL's SQLSTATE ("23505"); both are
// empty for errors that the program finds itself.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
  EDatabaseError(const std::string& message, std::string engineCode, std::string engineMessage)
      : Exception(message),
        engineCode_(std::move(engineCode)),
        engineMessage_(std::move(engineMessage)) {}
  const std::string& EngineCode() const { return engineCode_; }
  const std::string& EngineMessage() const { return engineMessage_; }

 private:
  std::string engineCode_;
  std::string engineMessage_;
};
