// The exceptions of the client library and the texts of the OPC result codes. Every exception
// carries its message text (Windows-1252, like all texts of the library); EOleSysError also
// keeps the code it was raised for.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/com/hresult.h"

namespace kopl {

using platform::com::HRESULT;

// The base of every exception the library raises; also raised itself for "wrong fileformat".
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// The library's own failures and the OPC codes that have a text.
class EOPCException : public Exception {
 public:
  using Exception::Exception;
};

// A failing code without an OPC text (activation, advise, the server list).
class EOleSysError : public Exception {
 public:
  explicit EOleSysError(HRESULT code);
  HRESULT ErrorCode() const { return code_; }

 private:
  HRESULT code_;
};

// A server object that does not offer the interface the library needs.
class EIntfCastError : public Exception {
 public:
  EIntfCastError() : Exception("Interface not supported") {}
};

// A session text that does not follow the stream grammar; the message names the line.
class EReadError : public Exception {
 public:
  EReadError(int line, const std::string& what);
  int Line() const { return line_; }

 private:
  int line_;
};

// A file that cannot be opened or written.
class EFileStreamError : public Exception {
 public:
  using Exception::Exception;
};

// The English text of an OPC code; "" for any other code.
std::string OpcErrorText(HRESULT code);
// EOPCException with the code's text when it has one, else EOleSysError.
[[noreturn]] void RaiseOpcError(HRESULT code);
// RaiseOpcError for a failing code; success codes (S_FALSE and the OPC_S_ codes too) pass.
void OpcCheck(HRESULT code);
// EOleSysError for a failing code.
void OleCheck(HRESULT code);

}  // namespace kopl
