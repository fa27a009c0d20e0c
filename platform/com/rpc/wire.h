// Conversions between the OPC types and their messages. Decoding checks what comes from the
// other process: a value whose tag and content disagree, or an IID of the wrong length, is
// refused rather than guessed at.
#pragma once

#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/opc_types.h"
#include "platform/com/rpc/opc.pb.h"

namespace platform::com::wire {

void EncodeValue(const Variant& v, qar::com::Value* out);
// false when the message is not a valid value (unknown tag, wrong field, out of range).
bool DecodeValue(const qar::com::Value& in, Variant* out);

std::string EncodeGuid(const GUID& g);
bool DecodeGuid(const std::string& bytes, GUID* out);

void EncodeItemDef(const OPCITEMDEF& d, qar::com::ItemDef* out);
OPCITEMDEF DecodeItemDef(const qar::com::ItemDef& in);  // requested types beyond 16 bits become 0xFFFF (unknown)
void EncodeItemResult(const OPCITEMRESULT& r, qar::com::ItemResult* out);
OPCITEMRESULT DecodeItemResult(const qar::com::ItemResult& in);
void EncodeItemState(const OPCITEMSTATE& s, qar::com::ItemState* out);
bool DecodeItemState(const qar::com::ItemState& in, OPCITEMSTATE* out);

inline uint64_t EncodeTime(FILETIME ft) { return FileTimeToU64(ft); }
inline FILETIME DecodeTime(uint64_t v) { return U64ToFileTime(v); }

// A 16-bit type or quality from a 32-bit field; values past 16 bits become 0xFFFF, which no
// valid type or quality uses, so the receiver refuses them instead of truncating.
inline uint16_t Narrow16(uint32_t v) { return v > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(v); }

}  // namespace platform::com::wire
