#include "opcclient/kopl_services.h"

#include "platform/com/rpc/client.h"
#include "platform/debug_output.h"

namespace kopl {

namespace {

// Set at start by the main thread; read only there afterwards.
KoplServices& Current() {
  static KoplServices* services = new KoplServices;  // never destroyed: used up to the end of the run
  return *services;
}

}  // namespace

const KoplServices& Services() { return Current(); }

void SetServices(KoplServices services) { Current() = std::move(services); }

void ShowMessage(const std::string& text) {
  if (Current().message_box) return Current().message_box(text);
  platform::OutputDebugString(text + "\n");
}

void Beep() {
  if (Current().beep) Current().beep();
}

void LogLine(const std::string& line) {
  if (Current().log) return Current().log(line);
  platform::OutputDebugString(line + "\n");
}

void HandleException(const std::exception& e) {
  if (Current().handle_exception) return Current().handle_exception(e);
  platform::OutputDebugString(std::string(e.what()) + "\n");
}

platform::com::HRESULT CreateServerObject(const platform::com::CLSID& clsid, const std::string& computer_name,
                                          platform::com::Apartment& apartment,
                                          std::shared_ptr<platform::com::IUnknown>* out, std::string* error_text) {
  if (Current().create_server) return Current().create_server(clsid, computer_name, apartment, out, error_text);
  return CreateServerByTransport(clsid, computer_name, apartment, out, error_text);
}

platform::com::HRESULT CreateServerByTransport(const platform::com::CLSID& clsid, const std::string& computer_name,
                                               platform::com::Apartment& apartment,
                                               std::shared_ptr<platform::com::IUnknown>* out,
                                               std::string* error_text) {
  platform::com::rpc::ActivationOptions options;
  options.apartment = &apartment;
  options.computer_name = computer_name;
  if (Current().call_timeout_ms) options.call_timeout_ms = *Current().call_timeout_ms;
  return platform::com::rpc::CreateServer(clsid, options, out, error_text);
}

}  // namespace kopl
