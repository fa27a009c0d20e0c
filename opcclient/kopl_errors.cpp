#include "opcclient/kopl_errors.h"

namespace kopl {

namespace {

std::string OleText(HRESULT code) {
  std::string text = platform::com::HResultText(code);
  return text.empty() ? "OLE error " + platform::com::HResultHex(code) : text;
}

}  // namespace

EOleSysError::EOleSysError(HRESULT code) : Exception(OleText(code)), code_(code) {}

EReadError::EReadError(int line, const std::string& what)
    : Exception("Error in line " + std::to_string(line) + ": " + what), line_(line) {}

std::string OpcErrorText(HRESULT code) { return platform::com::OpcErrorText(code); }

void RaiseOpcError(HRESULT code) {
  std::string text = OpcErrorText(code);
  if (!text.empty()) throw EOPCException(text);
  throw EOleSysError(code);
}

void OpcCheck(HRESULT code) {
  if (platform::com::FAILED(code)) RaiseOpcError(code);
}

void OleCheck(HRESULT code) {
  if (platform::com::FAILED(code)) throw EOleSysError(code);
}

}  // namespace kopl
