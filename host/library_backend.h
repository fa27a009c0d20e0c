// The server library as the data source of the OPC server model: reads and writes go to its
// request export as one batch of request records each.
#pragma once

#include "platform/com/da_server.h"
#include "platform/toolkit/toolkit_host.h"

namespace host {

class LibraryBackend final : public platform::com::DaBackend {
 public:
  explicit LibraryBackend(TSOXpSHandleDARequests handle_requests) : handle_requests_(handle_requests) {}

  // A record the library did not handle (it stopped the batch at a failure) reads as bad
  // quality without a value.
  void Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) override;
  // S_OK for a record the library took, E_FAIL for one it did not.
  void Write(const std::vector<uint32_t>& handles, const std::vector<platform::com::Variant>& values,
             std::vector<platform::com::HRESULT>* results) override;

 private:
  TSOXpSHandleDARequests handle_requests_;
};

}  // namespace host
