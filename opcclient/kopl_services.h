// What the client library needs of its program and platform, replaceable as a whole: which of
// the two builds the program is, how to show a message, beep, log and report an exception that
// an event handler let out, and how to create a server object. A program sets these once at
// start, before it creates a component; tests install their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/com/apartment.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

namespace kopl {

// The explorer's build and the visualisation client's build differ in their release text, the
// data-change message number and how they connect.
enum class KoplBuild { Explorer, Visualisation };

// Creates the server object of a class, on the named computer when it is not blank. On failure
// returns the code and may fill error_text.
using CreateServerFn = std::function<platform::com::HRESULT(
    const platform::com::CLSID& clsid, const std::string& computer_name, platform::com::Apartment& apartment,
    std::shared_ptr<platform::com::IUnknown>* out, std::string* error_text)>;

struct KoplServices {
  KoplBuild build = KoplBuild::Explorer;
  // A message box with an OK button. Must not block a program without a display.
  std::function<void(const std::string& text)> message_box;
  std::function<void()> beep;
  // One line for the program's error log.
  std::function<void(const std::string& line)> log;
  // The program's standard report of an exception that left an event handler.
  std::function<void(const std::exception& e)> handle_exception;
  // Server activation; the transport's (local or registered servers) when empty.
  CreateServerFn create_server;
  // The transport's: how long one call to a server may take before the server counts as
  // gone (the transport's own default when not set).
  std::optional<uint32_t> call_timeout_ms;
};

// The services in force; missing functions fall back to the debugger output (stderr).
const KoplServices& Services();
void SetServices(KoplServices services);

// Shorthands that apply the fallbacks.
void ShowMessage(const std::string& text);
void Beep();
void LogLine(const std::string& line);
void HandleException(const std::exception& e);
platform::com::HRESULT CreateServerObject(const platform::com::CLSID& clsid, const std::string& computer_name,
                                          platform::com::Apartment& apartment,
                                          std::shared_ptr<platform::com::IUnknown>* out, std::string* error_text);

// The transport's activation: a registered local server, started when it is not running.
platform::com::HRESULT CreateServerByTransport(const platform::com::CLSID& clsid, const std::string& computer_name,
                                               platform::com::Apartment& apartment,
                                               std::shared_ptr<platform::com::IUnknown>* out,
                                               std::string* error_text);

}  // namespace kopl
