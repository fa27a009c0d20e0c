// A MessageService for tests: records every box and beep, answers from a script (the first
// button of the box when the script is used up) and tracks the wait cursor's nesting.
#pragma once

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "platform/message_service.h"

namespace platform::testing {

class RecordingMessages final : public MessageService {
 public:
  struct Box {
    MessageKind kind;
    std::string text;
    MessageButtons buttons;
  };

  MessageAnswer Show(MessageKind kind, const std::string& text, MessageButtons buttons) override {
    boxes.push_back({kind, text, buttons});
    maxWaitDepthAtBox = std::max(maxWaitDepthAtBox, waitDepth);
    if (!answers.empty()) {
      MessageAnswer a = answers.front();
      answers.pop_front();
      return a;
    }
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
  }
  void Beep() override { ++beeps; }
  void SetWaitCursor(bool on) override { waitDepth += on ? 1 : -1; }

  // The texts of the boxes shown so far.
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const Box& b : boxes) t.push_back(b.text);
    return t;
  }

  std::deque<MessageAnswer> answers;
  std::vector<Box> boxes;
  int beeps = 0;
  int waitDepth = 0;
  int maxWaitDepthAtBox = 0;
};

}  // namespace platform::testing
