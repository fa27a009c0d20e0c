#include "platform/com/opc_stream.h"

#include <cstring>

#include "platform/com/bstr.h"

namespace platform::com {

namespace {

constexpr size_t kHeaderSize = 20;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

void PutHeader(std::vector<uint8_t>& b, DWORD count, OPCHANDLE group, DWORD transaction, HRESULT status) {
  Put32(b, 0, static_cast<uint32_t>(b.size()));
  Put32(b, 4, count);
  Put32(b, 8, group);
  Put32(b, 12, transaction);
  Put32(b, 16, static_cast<uint32_t>(status));
}

bool GetHeader(const std::vector<uint8_t>& b, OpcStreamHeader* h) {
  if (b.size() < kHeaderSize) return false;
  h->dwSize = Get32(b, 0);
  h->dwItemCount = Get32(b, 4);
  h->hClientGroup = Get32(b, 8);
  h->dwTransactionID = Get32(b, 12);
  h->hrStatus = static_cast<HRESULT>(Get32(b, 16));
  return h->dwSize == b.size();
}

}  // namespace

std::vector<uint8_t> BuildOpcDataStream(bool with_time, OPCHANDLE hClientGroup, DWORD dwTransactionID,
                                        HRESULT hrStatus, const std::vector<OpcStreamItem>& items) {
  const size_t item_size = with_time ? 20 : 12;
  std::vector<uint8_t> b(kHeaderSize + items.size() * item_size);
  for (size_t i = 0; i < items.size(); ++i) {
    const OpcStreamItem& it = items[i];
    RawVariant raw;
    WORD quality = it.wQuality;
    if (FAILED(VariantToRaw(it.value, &raw))) {
      RawVariantInit(&raw);
      quality = OPC_QUALITY_BAD;
    }
    std::string text;
    if (raw.vt == VT_BSTR) {
      std::u16string w = Utf8ToUtf16(it.value.Str());
      text.assign(reinterpret_cast<const char*>(w.data()), w.size() * 2);
      RawVariantClear(&raw);
      raw.vt = VT_BSTR;  // the text follows; the pointer means nothing in another process
    }
    size_t at = kHeaderSize + i * item_size;
    size_t value_offset = b.size();
    Put32(b, at, it.hClient);
    Put32(b, at + 4, static_cast<uint32_t>(value_offset));
    Put16(b, at + 8, quality);
    Put16(b, at + 10, 0);
    if (with_time) {
      Put32(b, at + 12, it.ftTimeStamp.dwLowDateTime);
      Put32(b, at + 16, it.ftTimeStamp.dwHighDateTime);
    }
    b.resize(value_offset + sizeof(RawVariant));
    StoreRawVariant(b.data() + value_offset, raw);
    if (raw.vt == VT_BSTR) {
      size_t t = b.size();
      b.resize(t + 4 + text.size() + 2, 0);
      Put32(b, t, static_cast<uint32_t>(text.size()));
      std::memcpy(b.data() + t + 4, text.data(), text.size());
    }
  }
  PutHeader(b, static_cast<DWORD>(items.size()), hClientGroup, dwTransactionID, hrStatus);
  return b;
}

bool ParseOpcDataStream(const std::vector<uint8_t>& b, bool with_time, OpcStreamHeader* header,
                        std::vector<OpcStreamItem>* items) {
  OpcStreamHeader h;
  if (!GetHeader(b, &h)) return false;
  const size_t item_size = with_time ? 20 : 12;
  if (h.dwItemCount > (b.size() - kHeaderSize) / item_size) return false;
  std::vector<OpcStreamItem> out;
  for (size_t i = 0; i < h.dwItemCount; ++i) {
    size_t at = kHeaderSize + i * item_size;
    OpcStreamItem it;
    it.hClient = Get32(b, at);
    size_t offset = Get32(b, at + 4);
    it.wQuality = Get16(b, at + 8);
    if (with_time) it.ftTimeStamp = {Get32(b, at + 12), Get32(b, at + 16)};
    if (offset > b.size() || b.size() - offset < sizeof(RawVariant)) return false;
    RawVariant raw = LoadRawVariant(b.data() + offset);
    if (raw.vt == VT_BSTR) {
      size_t t = offset + sizeof(RawVariant);
      if (b.size() - t < 4) return false;
      uint32_t bytes = Get32(b, t);
      if (bytes % 2 || (b.size() - t - 4) < size_t{bytes} + 2) return false;
      std::u16string w(bytes / 2, u'\0');
      std::memcpy(w.data(), b.data() + t + 4, bytes);
      it.value = Variant::Str(Utf16ToUtf8(w));
    } else if (FAILED(VariantFromRaw(raw, &it.value))) {
      return false;
    }
    out.push_back(std::move(it));
  }
  *header = h;
  *items = std::move(out);
  return true;
}

std::vector<uint8_t> BuildOpcWriteCompleteStream(OPCHANDLE hClientGroup, DWORD dwTransactionID, HRESULT hrStatus,
                                                 const std::vector<OpcStreamWriteResult>& results) {
  std::vector<uint8_t> b(kHeaderSize + results.size() * 8);
  for (size_t i = 0; i < results.size(); ++i) {
    Put32(b, kHeaderSize + i * 8, results[i].hClient);
    Put32(b, kHeaderSize + i * 8 + 4, static_cast<uint32_t>(results[i].hrError));
  }
  PutHeader(b, static_cast<DWORD>(results.size()), hClientGroup, dwTransactionID, hrStatus);
  return b;
}

bool ParseOpcWriteCompleteStream(const std::vector<uint8_t>& b, OpcStreamHeader* header,
                                 std::vector<OpcStreamWriteResult>* results) {
  OpcStreamHeader h;
  if (!GetHeader(b, &h)) return false;
  if (h.dwItemCount != (b.size() - kHeaderSize) / 8 || (b.size() - kHeaderSize) % 8) return false;
  results->clear();
  for (size_t i = 0; i < h.dwItemCount; ++i) {
    results->push_back({Get32(b, kHeaderSize + i * 8), static_cast<HRESULT>(Get32(b, kHeaderSize + i * 8 + 4))});
  }
  *header = h;
  return true;
}

}  // namespace platform::com
