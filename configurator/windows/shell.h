// Asking the desktop to "open" a web address or a program.
#pragma once

#include <string>

namespace configurator::windows {

class TShell {
 public:
  virtual ~TShell() = default;
  // False when nothing could be started.
  virtual bool Open(const std::string& target) = 0;
};

// Web addresses go to the desktop's browser; any other name is a program found on the PATH
// or a file opened with the desktop's handler.
class TDesktopShell final : public TShell {
 public:
  bool Open(const std::string& target) override;
};

}  // namespace configurator::windows
