// A small OPC server for tests: a fixed namespace held in memory, one server object per
// client (NewServer), groups with items, synchronous and asynchronous I/O, connection points
// and the DA 1.0 data-object path. Nothing happens by itself: Tick() sends what a real server
// sends at its update rate (data changes, completions of asynchronous calls), so a test
// decides when callbacks go out. All objects of one device share its state and lock.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/data_object.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"

namespace platform::com::testing {

inline constexpr CLSID kFakeClsid{0x7A3E51C2, 0x44D0, 0x4F6B, {0x9B, 0x1D, 0x2C, 0x55, 0x8E, 0x01, 0x6A, 0x33}};

struct FakeItem {
  VARTYPE canonical = VT_I4;
  DWORD rights = OPC_READABLE;
  Variant value;
  WORD quality = OPC_QUALITY_GOOD;
  FILETIME stamp;
  std::string unit;  // property 5001 when not empty
};

class FakeServer;

class FakeDevice : public std::enable_shared_from_this<FakeDevice> {
 public:
  // The namespace: "Zentrale.Station1.AE1" (R8, read), "Zentrale.Station1.BA1" (I4, read
  // and write), "Zentrale.Station1.Name" (BSTR, read), "Zentrale.Station2.AE1" (R8, read),
  // "Zentrale.Status" (I4, read).
  FakeDevice();

  // A server object for one client.
  std::shared_ptr<IUnknown> NewServer();

  // Changes an item's value (and its time stamp) as the driver would.
  void Set(const std::string& item_id, Variant value, WORD quality = OPC_QUALITY_GOOD);
  Variant Value(const std::string& item_id);
  // What a server does at its update rate: every active group with a data callback gets the
  // changes of its active items; pending asynchronous calls complete.
  void Tick();
  // Sends the shutdown request to every client that advised IOPCShutdown.
  void Shutdown(const std::string& reason);

  size_t ServerCount();
  size_t GroupCount();
  std::vector<std::string> ClientNames();
  // When false, server objects offer no connection points (an OPC DA 1.0 server).
  void SetConnectionPoints(bool offered);

 private:
  friend class FakeServer;
  friend class FakeGroup;

  std::mutex mutex_;
  std::map<std::string, FakeItem> items_;
  std::vector<std::weak_ptr<FakeServer>> servers_;
  OPCHANDLE next_handle_ = 1;
  DWORD next_cancel_ = 1;
  std::atomic<bool> connection_points_{true};
};

}  // namespace platform::com::testing
