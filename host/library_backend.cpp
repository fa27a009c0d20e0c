#include "host/library_backend.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace com = platform::com;
namespace tk = platform::toolkit;

namespace {

// A failed record leaves Result as it was, so every record starts out failed.
constexpr int32_t kNotHandled = com::E_FAIL;

tk::TDARequest Record(uint32_t handle, const com::RawVariant& value) {
  tk::TDARequest r{};
  r.Result = kNotHandled;
  r.ItemHandle = static_cast<int32_t>(handle);
  tk::SetRequestValue(r, value);
  return r;
}

com::RawVariant Empty() {
  com::RawVariant v;
  com::RawVariantInit(&v);
  return v;
}

}  // namespace

void LibraryBackend::Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) {
  std::vector<tk::TDARequest> records;
  records.reserve(handles.size());
  for (uint32_t h : handles) records.push_back(Record(h, Empty()));
  if (!records.empty()) handle_requests_(tk::kRequestRead, static_cast<int32_t>(records.size()), records.data());
  readings->reserve(readings->size() + records.size());
  for (tk::TDARequest& r : records) {
    Reading reading;
    com::RawVariant raw = tk::RequestValue(r);
    if (r.Result == 0 && com::SUCCEEDED(com::VariantFromRaw(raw, &reading.value))) {
      reading.quality = r.Quality;
      std::memcpy(&reading.stamp, &r.TimeStamp, sizeof reading.stamp);  // unaligned in the record
    } else {
      reading.value = com::Variant();
      reading.quality = com::OPC_QUALITY_BAD;
    }
    com::RawVariantClear(&raw);
    readings->push_back(std::move(reading));
  }
}

void LibraryBackend::Write(const std::vector<uint32_t>& handles, const std::vector<com::Variant>& values,
                           std::vector<com::HRESULT>* results) {
  const size_t n = std::min(handles.size(), values.size());
  std::vector<tk::TDARequest> records;
  std::vector<bool> sent;
  records.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    com::RawVariant raw = Empty();
    sent.push_back(com::SUCCEEDED(com::VariantToRaw(values[i], &raw)));
    records.push_back(Record(handles[i], raw));
  }
  // A value without a raw form never reaches the library.
  std::vector<tk::TDARequest> batch;
  for (size_t i = 0; i < n; ++i)
    if (sent[i]) batch.push_back(records[i]);
  if (!batch.empty()) handle_requests_(tk::kRequestWrite, static_cast<int32_t>(batch.size()), batch.data());
  size_t k = 0;
  for (size_t i = 0; i < n; ++i) {
    com::HRESULT result = com::E_FAIL;
    if (sent[i]) result = batch[k++].Result == 0 ? com::S_OK : com::E_FAIL;
    results->push_back(result);
    com::RawVariant raw = tk::RequestValue(records[i]);
    com::RawVariantClear(&raw);  // what the host sent is the host's to free
  }
}

}  // namespace host
