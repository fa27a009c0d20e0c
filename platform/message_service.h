// The message boxes, the beep and the wait cursor that the programs' core code asks of its
// windows. A windowed program implements it with real boxes; tests record the calls and give
// scripted answers. Texts are Windows-1252 bytes with lines separated by CR.
#pragma once

#include <string>

namespace platform {

enum class MessageKind { Plain, Information, Warning, Error, Confirmation };
enum class MessageButtons { Ok, YesNo, YesNoAbort };
enum class MessageAnswer { Ok, Yes, No, Abort };

class MessageService {
 public:
  virtual ~MessageService() = default;
  // Shows a modal box and returns the button that closed it.
  virtual MessageAnswer Show(MessageKind kind, const std::string& text, MessageButtons buttons) = 0;
  virtual void Beep() = 0;
  // The hourglass while on; calls may nest, each true is matched by a false.
  virtual void SetWaitCursor(bool on) = 0;
};

// The hourglass for the lifetime of the object.
class WaitCursor {
 public:
  explicit WaitCursor(MessageService& service) : service_(service) { service_.SetWaitCursor(true); }
  ~WaitCursor() { service_.SetWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  MessageService& service_;
};

}  // namespace platform
