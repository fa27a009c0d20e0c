// Objects and interfaces. Every interface derives virtually from IUnknown, so an object that
// offers several interfaces has one IUnknown. Lifetime is a shared_ptr's (in place of AddRef
// and Release); QueryInterface hands out the same object under another interface.
#pragma once

#include <initializer_list>
#include <memory>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace platform::com {

class IUnknown {
 public:
  static constexpr IID kIid{0xF9F88466, 0xD225, 0x4083, {0xB9, 0x81, 0x6D, 0x13, 0x64, 0x2F, 0xF2, 0xE4}};
  virtual ~IUnknown() = default;
  // S_OK and the object when it offers riid; E_NOINTERFACE and nullptr otherwise.
  virtual HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) = 0;
};

inline constexpr const IID& IID_IUnknown = IUnknown::kIid;

// Asks obj for interface I (its kIid). *out is nullptr on failure.
template <class I>
HRESULT QueryInterface(IUnknown* obj, std::shared_ptr<I>* out) {
  if (!out) return E_POINTER;
  out->reset();
  if (!obj) return E_POINTER;
  std::shared_ptr<IUnknown> unk;
  HRESULT hr = obj->QueryInterface(I::kIid, &unk);
  if (FAILED(hr)) return hr;
  auto typed = std::dynamic_pointer_cast<I>(unk);
  if (!typed) return E_NOINTERFACE;
  *out = std::move(typed);
  return S_OK;
}

// The interface, or nullptr when obj lacks it.
template <class I>
std::shared_ptr<I> Query(const std::shared_ptr<IUnknown>& obj) {
  std::shared_ptr<I> out;
  QueryInterface(obj.get(), &out);
  return out;
}
template <class I, class J>
std::shared_ptr<I> Query(const std::shared_ptr<J>& obj) {
  return Query<I>(std::static_pointer_cast<IUnknown>(obj));
}

// QueryInterface of an object that derives from std::enable_shared_from_this: answers IUnknown
// and every IID in offered.
template <class Self>
HRESULT AnswerQuery(Self* self, const IID& riid, std::shared_ptr<IUnknown>* ppv,
                    std::initializer_list<IID> offered) {
  if (!ppv) return E_POINTER;
  bool found = riid == IID_IUnknown;
  for (const IID& iid : offered) found = found || iid == riid;
  if (!found) {
    ppv->reset();
    return E_NOINTERFACE;
  }
  *ppv = std::shared_ptr<IUnknown>(self->shared_from_this(), static_cast<IUnknown*>(self));
  return S_OK;
}

}  // namespace platform::com
