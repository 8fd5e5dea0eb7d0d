#include "platform/Ui.h"

#include <iostream>

void TScreen::SetCursor(TCursor cursor) {
  cursor_ = cursor;
  if (listener_) listener_(cursor);
}

static TScreen screenObject;
TScreen* Screen = &screenObject;

namespace platform {
namespace {
MessageSink* currentSink = nullptr;
}

MessageSink* SetMessageSink(MessageSink* sink) {
  MessageSink* previous = currentSink;
  currentSink = sink;
  return previous;
}

void ShowMessage(const std::string& text) {
  if (currentSink) {
    currentSink->ShowMessage(text);
  } else {
    std::cerr << text << '\n';
  }
}

}  // namespace platform
