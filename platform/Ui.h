#pragma once
// Services of the user interface that the libraries call without knowing whether a
// window, a command line or a test stands behind them.

#include <cstdint>
#include <functional>
#include <string>

using TCursor = std::int16_t;
constexpr TCursor crDefault = 0;
constexpr TCursor crHourGlass = -11;

// The application-wide cursor. The window installs a listener that shows it.
class TScreen {
 public:
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor cursor);
  void SetCursorListener(std::function<void(TCursor)> listener) { listener_ = std::move(listener); }

 private:
  TCursor cursor_ = crDefault;
  std::function<void(TCursor)> listener_;
};

extern TScreen* Screen;

namespace platform {

// A modal message box with an OK button.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};

// Installs the sink that ShowMessage uses (nullptr: standard error). Returns the
// previous one.
MessageSink* SetMessageSink(MessageSink* sink);
void ShowMessage(const std::string& text);

}  // namespace platform
