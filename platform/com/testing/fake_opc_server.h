// A small OPC server for tests: the server model the host serves (DaServerModel), over a fixed
// address space and a device held in memory. Nothing happens by itself: Tick() is one pass of
// the host's poll loop with every group due (data changes, completions of asynchronous calls),
// so a test decides when callbacks go out.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/da_server.h"

namespace platform::com::testing {

inline constexpr CLSID kFakeClsid{0x7A3E51C2, 0x44D0, 0x4F6B, {0x9B, 0x1D, 0x2C, 0x55, 0x8E, 0x01, 0x6A, 0x33}};

class FakeDevice : public std::enable_shared_from_this<FakeDevice> {
 public:
  // The namespace: "Zentrale.Station1.AE1" (R8, read, unit "mA"), "Zentrale.Station1.BA1"
  // (I4, read and write), "Zentrale.Station1.Name" (BSTR, read), "Zentrale.Station2.AE1"
  // (R8, read, unit "bar", not connected), "Zentrale.Status" (I4, read). Vendor "Fake OPC
  // server", version 1.2.3.
  FakeDevice();
  ~FakeDevice();

  // A server object for one client.
  std::shared_ptr<IUnknown> NewServer();

  // Changes an item's value (and its time stamp) as the driver would.
  void Set(const std::string& item_id, Variant value, WORD quality = OPC_QUALITY_GOOD);
  Variant Value(const std::string& item_id);
  // What a server does at its update rate: every active group gets the changes of its active
  // items; pending asynchronous calls complete.
  void Tick();
  // Sends the shutdown request to every client that advised IOPCShutdown.
  void Shutdown(const std::string& reason);

  size_t ServerCount();
  size_t GroupCount();
  std::vector<std::string> ClientNames();
  // When false, server objects made from now on offer no connection points (an OPC DA 1.0
  // server).
  void SetConnectionPoints(bool offered);

  // Device reads of the item wait until ReleaseReads(), so that a test can hold a poll in its
  // device read. AwaitHeldRead: true once a read waits (within a generous deadline).
  void HoldReads(const std::string& item_id);
  bool AwaitHeldRead();
  void ReleaseReads();

 private:
  class Device;
  class TickClock;
  struct Parts;  // what the model serves from; its objects keep it as long as they live
  std::shared_ptr<DaServerModel> Model();

  std::shared_ptr<Parts> parts_;
  std::mutex mutex_;
  bool connection_points_ = true;
  std::shared_ptr<DaServerModel> models_[2];  // without and with connection points
};

}  // namespace platform::com::testing
