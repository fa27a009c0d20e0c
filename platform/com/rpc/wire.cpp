#include "platform/com/rpc/wire.h"

namespace platform::com::wire {

namespace {

bool IsSignedKind(VARTYPE vt) {
  return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT || vt == VT_BOOL ||
         vt == VT_ERROR || vt == VT_CY;
}
bool IsUnsignedKind(VARTYPE vt) {
  return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
}

bool DecodeScalar(const qar::com::Value& in, VARTYPE vt, Variant* out) {
  using V = qar::com::Value;
  Variant v;
  if (vt == VT_EMPTY || vt == VT_NULL) {
    if (in.v_case() != V::V_NOT_SET) return false;
    v = vt == VT_NULL ? Variant::Null() : Variant();
  } else if (IsSignedKind(vt)) {
    if (in.v_case() != V::kIntValue) return false;
    int64_t i = in.int_value();
    switch (vt) {
      case VT_I1: v = Variant::I1(static_cast<int8_t>(i)); break;
      case VT_I2: v = Variant::I2(static_cast<int16_t>(i)); break;
      case VT_I4: v = Variant::I4(static_cast<int32_t>(i)); break;
      case VT_INT: v = Variant::Int(static_cast<int32_t>(i)); break;
      case VT_I8: v = Variant::I8(i); break;
      case VT_CY: v = Variant::Cy(i); break;
      case VT_BOOL:
        if (i != 0 && i != -1) return false;
        v = Variant::Bool(i != 0);
        break;
      default: v = Variant::Error(static_cast<SCODE>(i)); break;
    }
    // A narrowing cast above must not have changed the value.
    if (vt != VT_BOOL && v.Int() != i) return false;
  } else if (IsUnsignedKind(vt)) {
    if (in.v_case() != V::kUintValue) return false;
    uint64_t u = in.uint_value();
    switch (vt) {
      case VT_UI1: v = Variant::UI1(static_cast<uint8_t>(u)); break;
      case VT_UI2: v = Variant::UI2(static_cast<uint16_t>(u)); break;
      case VT_UI4: v = Variant::UI4(static_cast<uint32_t>(u)); break;
      case VT_UINT: v = Variant::UInt(static_cast<uint32_t>(u)); break;
      default: v = Variant::UI8(u); break;
    }
    if (v.UInt() != u) return false;
  } else if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE) {
    if (in.v_case() != V::kRealValue) return false;
    double d = in.real_value();
    if (vt == VT_R4) {
      v = Variant::R4(static_cast<float>(d));
      if (v.Real() != d && d == d) return false;  // not a float value (NaN passes)
    } else {
      v = vt == VT_R8 ? Variant::R8(d) : Variant::Date(d);
    }
  } else if (vt == VT_BSTR) {
    if (in.v_case() != V::kText) return false;
    v = Variant::Str(in.text());
  } else {
    return false;
  }
  *out = std::move(v);
  return true;
}

}  // namespace

void EncodeValue(const Variant& v, qar::com::Value* out) {
  out->Clear();
  out->set_vt(v.vt());
  if (v.IsArray()) {
    auto* arr = out->mutable_elements();
    for (const Variant& e : v.Elements()) EncodeValue(e, arr->add_elements());
    return;
  }
  VARTYPE vt = v.vt();
  if (IsSignedKind(vt)) {
    out->set_int_value(v.Int());
  } else if (IsUnsignedKind(vt)) {
    out->set_uint_value(v.UInt());
  } else if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE) {
    out->set_real_value(v.Real());
  } else if (vt == VT_BSTR) {
    out->set_text(v.Str());
  }
}

bool DecodeValue(const qar::com::Value& in, Variant* out) {
  if (in.vt() > 0xFFFF) return false;
  auto vt = static_cast<VARTYPE>(in.vt());
  if (!IsKnownType(vt)) return false;
  if (!(vt & VT_ARRAY)) return DecodeScalar(in, vt, out);
  if (in.v_case() != qar::com::Value::kElements) return false;
  VARTYPE elem = static_cast<VARTYPE>(vt & ~VT_ARRAY);
  std::vector<Variant> elems;
  elems.reserve(in.elements().elements_size());
  for (const auto& e : in.elements().elements()) {
    if (e.vt() > 0xFFFF) return false;
    auto evt = static_cast<VARTYPE>(e.vt());
    if (evt & VT_ARRAY) return false;
    if (elem != VT_VARIANT && evt != elem) return false;
    Variant ev;
    if (!DecodeScalar(e, evt, &ev)) return false;
    elems.push_back(std::move(ev));
  }
  *out = Variant::Array(elem, std::move(elems));
  return true;
}

std::string EncodeGuid(const GUID& g) {
  auto b = GuidToBytes(g);
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

bool DecodeGuid(const std::string& bytes, GUID* out) {
  auto g = GuidFromBytes(bytes);
  if (!g) return false;
  *out = *g;
  return true;
}

void EncodeItemDef(const OPCITEMDEF& d, qar::com::ItemDef* out) {
  out->set_access_path(d.szAccessPath);
  out->set_item_id(d.szItemID);
  out->set_active(d.bActive != 0);
  out->set_client_handle(d.hClient);
  out->set_blob(std::string(d.pBlob.begin(), d.pBlob.end()));
  out->set_requested_data_type(d.vtRequestedDataType);
}

OPCITEMDEF DecodeItemDef(const qar::com::ItemDef& in) {
  OPCITEMDEF d;
  d.szAccessPath = in.access_path();
  d.szItemID = in.item_id();
  d.bActive = in.active() ? TRUE : FALSE;
  d.hClient = in.client_handle();
  d.pBlob.assign(in.blob().begin(), in.blob().end());
  d.vtRequestedDataType = Narrow16(in.requested_data_type());
  return d;
}

void EncodeItemResult(const OPCITEMRESULT& r, qar::com::ItemResult* out) {
  out->set_server_handle(r.hServer);
  out->set_canonical_data_type(r.vtCanonicalDataType);
  out->set_access_rights(r.dwAccessRights);
  out->set_blob(std::string(r.pBlob.begin(), r.pBlob.end()));
}

OPCITEMRESULT DecodeItemResult(const qar::com::ItemResult& in) {
  OPCITEMRESULT r;
  r.hServer = in.server_handle();
  r.vtCanonicalDataType = Narrow16(in.canonical_data_type());
  r.dwAccessRights = in.access_rights();
  r.pBlob.assign(in.blob().begin(), in.blob().end());
  return r;
}

void EncodeItemState(const OPCITEMSTATE& s, qar::com::ItemState* out) {
  out->set_client_handle(s.hClient);
  out->set_time_stamp(EncodeTime(s.ftTimeStamp));
  out->set_quality(s.wQuality);
  EncodeValue(s.vDataValue, out->mutable_value());
}

bool DecodeItemState(const qar::com::ItemState& in, OPCITEMSTATE* out) {
  OPCITEMSTATE s;
  s.hClient = in.client_handle();
  s.ftTimeStamp = DecodeTime(in.time_stamp());
  s.wQuality = Narrow16(in.quality());
  if (!DecodeValue(in.value(), &s.vDataValue)) return false;
  *out = std::move(s);
  return true;
}

}  // namespace platform::com::wire
