// Connection points: a server object names the callback interfaces it can call
// (IConnectionPointContainer), and a client hands it a sink for one of them (IConnectionPoint
// Advise, ended by Unadvise with the cookie). ConnectionPoint is the server side's ready-made
// point for one sink interface.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/opc_types.h"
#include "platform/com/unknown.h"

namespace platform::com {

class IConnectionPoint;

class IConnectionPointContainer : public virtual IUnknown {
 public:
  static constexpr IID kIid{0xB98E1742, 0xA45E, 0x435B, {0xB2, 0x80, 0x64, 0xAA, 0x6B, 0x8D, 0x0A, 0x27}};
  // CONNECT_E_NOCONNECTION when the object has no point for riid.
  virtual HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) = 0;
};

class IConnectionPoint : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x1A68BF37, 0x81F9, 0x436B, {0x80, 0x8E, 0x3F, 0xDE, 0x94, 0xAE, 0x31, 0xBD}};
  virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
  // CONNECT_E_CANNOTCONNECT when the sink lacks the point's interface, CONNECT_E_ADVISELIMIT
  // when the point takes no more sinks.
  virtual HRESULT Advise(const std::shared_ptr<IUnknown>& pUnkSink, DWORD* pdwCookie) = 0;
  // CONNECT_E_NOCONNECTION for a cookie that is not advised.
  virtual HRESULT Unadvise(DWORD dwCookie) = 0;
};

inline constexpr const IID& IID_IConnectionPointContainer = IConnectionPointContainer::kIid;
inline constexpr const IID& IID_IConnectionPoint = IConnectionPoint::kIid;

// A point for sinks of interface Sink. Thread-safe; Sinks() gives a snapshot to call outside
// any lock, so a sink may unadvise from inside its own callback.
template <class Sink>
class ConnectionPoint final : public IConnectionPoint, public std::enable_shared_from_this<ConnectionPoint<Sink>> {
 public:
  // max_connections 0 means no limit.
  explicit ConnectionPoint(size_t max_connections = 0) : max_(max_connections) {}

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IConnectionPoint});
  }
  HRESULT GetConnectionInterface(IID* pIID) override {
    if (!pIID) return E_POINTER;
    *pIID = Sink::kIid;
    return S_OK;
  }
  HRESULT Advise(const std::shared_ptr<IUnknown>& pUnkSink, DWORD* pdwCookie) override {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    std::shared_ptr<Sink> sink = Query<Sink>(pUnkSink);
    if (!sink) return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(mutex_);
    if (max_ && sinks_.size() >= max_) return CONNECT_E_ADVISELIMIT;
    DWORD cookie = ++last_cookie_;
    sinks_.emplace(cookie, std::move(sink));
    *pdwCookie = cookie;
    return S_OK;
  }
  HRESULT Unadvise(DWORD dwCookie) override {
    std::lock_guard lock(mutex_);
    return sinks_.erase(dwCookie) ? S_OK : CONNECT_E_NOCONNECTION;
  }

  std::vector<std::shared_ptr<Sink>> Sinks() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Sink>> out;
    for (const auto& [cookie, sink] : sinks_) out.push_back(sink);
    return out;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    sinks_.clear();
  }

 private:
  mutable std::mutex mutex_;
  size_t max_;
  DWORD last_cookie_ = 0;
  std::map<DWORD, std::shared_ptr<Sink>> sinks_;
};

}  // namespace platform::com
