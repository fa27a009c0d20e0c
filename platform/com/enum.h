// String and GUID enumerators: Next hands out up to celt elements and answers S_FALSE when
// fewer were left. ListEnum is the in-memory enumerator that servers and proxies return.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/opc_types.h"
#include "platform/com/unknown.h"

namespace platform::com {

template <class T>
class IEnum : public virtual IUnknown {
 public:
  virtual HRESULT Next(ULONG celt, T* rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT Skip(ULONG celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(std::shared_ptr<IEnum<T>>* ppenum) = 0;
};

class IEnumString : public IEnum<std::string> {
 public:
  static constexpr IID kIid{0xFFDC1314, 0xAC88, 0x47A4, {0xB2, 0xE2, 0x9D, 0x19, 0xB2, 0x5D, 0xE6, 0xFE}};
};
class IEnumGUID : public IEnum<GUID> {
 public:
  static constexpr IID kIid{0x659E5D63, 0xB8E2, 0x413B, {0x8A, 0x3F, 0xEC, 0xE1, 0x9D, 0xA3, 0x7E, 0xFA}};
};

inline constexpr const IID& IID_IEnumString = IEnumString::kIid;
inline constexpr const IID& IID_IEnumGUID = IEnumGUID::kIid;

template <class Interface, class T>
class ListEnum final : public Interface, public std::enable_shared_from_this<ListEnum<Interface, T>> {
 public:
  explicit ListEnum(std::vector<T> items, size_t pos = 0) : items_(std::move(items)), pos_(pos) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {Interface::kIid});
  }
  HRESULT Next(ULONG celt, T* rgelt, ULONG* pceltFetched) override {
    if (!rgelt && celt) return E_POINTER;
    if (!pceltFetched && celt > 1) return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    while (n < celt && pos_ < items_.size()) rgelt[n++] = items_[pos_++];
    if (pceltFetched) *pceltFetched = n;
    return n == celt ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG celt) override {
    std::lock_guard lock(mutex_);
    size_t left = items_.size() - pos_;
    pos_ += std::min<size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    std::lock_guard lock(mutex_);
    pos_ = 0;
    return S_OK;
  }
  HRESULT Clone(std::shared_ptr<IEnum<T>>* ppenum) override {
    if (!ppenum) return E_POINTER;
    std::lock_guard lock(mutex_);
    *ppenum = std::make_shared<ListEnum>(items_, pos_);
    return S_OK;
  }

 private:
  std::mutex mutex_;
  std::vector<T> items_;
  size_t pos_;
};

using StringListEnum = ListEnum<IEnumString, std::string>;
using GuidListEnum = ListEnum<IEnumGUID, GUID>;

// Every element an enumerator has left, read one at a time.
template <class T>
std::vector<T> ReadAll(IEnum<T>* e) {
  std::vector<T> out;
  if (!e) return out;
  T item;
  ULONG got = 0;
  while (e->Next(1, &item, &got) == S_OK && got == 1) out.push_back(item);
  return out;
}

}  // namespace platform::com
