#include "platform/com/testing/fake_opc_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

#include "platform/clock.h"
#include "platform/com/address_space.h"

namespace platform::com::testing {

namespace {

FILETIME Now() { return ToFileTime(std::chrono::system_clock::now()); }

struct Register {
  Variant value;
  WORD quality = OPC_QUALITY_GOOD;
  FILETIME stamp;
};

}  // namespace

// The registers behind the items, by the items' handles.
class FakeDevice::Device final : public DaBackend {
 public:
  void Read(const std::vector<uint32_t>& handles, std::vector<Reading>* readings) override {
    std::unique_lock lock(mutex_);
    if (held_ && std::find(handles.begin(), handles.end(), *held_) != handles.end()) {
      ++waiting_;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !held_; });
      --waiting_;
    }
    for (uint32_t h : handles) {
      const Register& r = registers_[h];
      readings->push_back({r.value, r.quality, r.stamp});
    }
  }
  void Write(const std::vector<uint32_t>& handles, const std::vector<Variant>& values,
             std::vector<HRESULT>* results) override {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < handles.size(); ++i) {
      Store(handles[i], values[i], OPC_QUALITY_GOOD);
      results->push_back(S_OK);
    }
  }

  void Set(uint32_t handle, Variant value, WORD quality) {
    std::lock_guard lock(mutex_);
    Store(handle, std::move(value), quality);
  }
  Variant Value(uint32_t handle) {
    std::lock_guard lock(mutex_);
    return registers_[handle].value;
  }
  void Hold(uint32_t handle) {
    std::lock_guard lock(mutex_);
    held_ = handle;
  }
  bool AwaitHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return waiting_ > 0; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    held_.reset();
    changed_.notify_all();
  }

 private:
  void Store(uint32_t handle, Variant value, WORD quality) {
    Register& r = registers_[handle];
    r.value = std::move(value);
    r.quality = quality;
    // Each change gets a time stamp of its own, even within one clock step.
    FILETIME now = Now();
    if (FileTimeToU64(now) <= FileTimeToU64(r.stamp)) now = U64ToFileTime(FileTimeToU64(r.stamp) + 1);
    r.stamp = now;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<uint32_t, Register> registers_;
  std::optional<uint32_t> held_;
  int waiting_ = 0;
};

// Wall-clock time as it is; the tick moves only at Tick(), by more than any update rate, so
// that every group is due at every Tick.
class FakeDevice::TickClock final : public platform::Clock {
 public:
  TimePoint Now() override { return std::chrono::system_clock::now(); }
  uint32_t TickMs() override { return tick_; }
  void SleepMs(uint32_t) override {}
  void Step() { tick_ += 3'600'000; }

 private:
  std::atomic<uint32_t> tick_{0};
};

struct FakeDevice::Parts {
  AddressSpace space;
  Device device;
  TickClock clock;
};

FakeDevice::FakeDevice() : parts_(std::make_shared<Parts>()) {
  AddressSpace& space = parts_->space;
  const AddressSpace::NodeId root = *space.AddNode(AddressSpace::kTop, "Zentrale");
  const AddressSpace::NodeId s1 = *space.AddNode(root, "Station1");
  const AddressSpace::NodeId s2 = *space.AddNode(root, "Station2");
  struct Row {
    AddressSpace::NodeId node;
    const char* name;
    VARTYPE canonical;
    DWORD rights;
    Variant value;
    WORD quality;
    const char* unit;
  } rows[] = {
      {s1, "AE1", VT_R8, OPC_READABLE, Variant::R8(12.5), OPC_QUALITY_GOOD, "mA"},
      {s1, "BA1", VT_I4, OPC_READABLE | OPC_WRITEABLE, Variant::I4(0), OPC_QUALITY_GOOD, ""},
      {s1, "Name", VT_BSTR, OPC_READABLE, Variant::Str("Pumpwerk S\xC3\xBC" "d"), OPC_QUALITY_GOOD, ""},
      {s2, "AE1", VT_R8, OPC_READABLE, Variant::R8(-1), OPC_QUALITY_NOT_CONNECTED, "bar"},
      {root, "Status", VT_I4, OPC_READABLE, Variant::I4(1), OPC_QUALITY_GOOD, ""},
  };
  uint32_t handle = 1;
  for (const Row& row : rows) {
    space.AddTag(row.node, row.name, row.canonical, row.rights, handle);
    parts_->device.Set(handle++, row.value, row.quality);
  }
  DaServerOptions o;
  o.vendor_info = "Fake OPC server";
  o.major_version = 1;
  o.minor_version = 2;
  o.build_number = 3;
  for (bool points : {false, true}) {
    o.connection_points = points;
    models_[points] = DaServerModel::Create(space, parts_->device, parts_->clock, o, parts_);
  }
  for (const Row& row : rows) {
    if (!*row.unit) continue;
    const AddressItem* item = space.Items()[&row - rows].get();
    for (auto& m : models_) m->SetProperties(item->item_id, {{5001, "Item Unit", VT_BSTR, Variant::Str(row.unit)}});
  }
}

FakeDevice::~FakeDevice() { ReleaseReads(); }

std::shared_ptr<DaServerModel> FakeDevice::Model() {
  std::lock_guard lock(mutex_);
  return models_[connection_points_];
}

std::shared_ptr<IUnknown> FakeDevice::NewServer() { return Model()->NewServer(); }

void FakeDevice::Set(const std::string& item_id, Variant value, WORD quality) {
  parts_->device.Set(parts_->space.Find(item_id)->handle, std::move(value), quality);
}

Variant FakeDevice::Value(const std::string& item_id) {
  return parts_->device.Value(parts_->space.Find(item_id)->handle);
}

void FakeDevice::Tick() {
  parts_->clock.Step();
  for (auto& m : models_) m->Poll();
}

void FakeDevice::Shutdown(const std::string& reason) {
  for (auto& m : models_) m->Shutdown(reason);
}

size_t FakeDevice::ServerCount() { return models_[0]->ClientCount() + models_[1]->ClientCount(); }

size_t FakeDevice::GroupCount() { return models_[0]->GroupCount() + models_[1]->GroupCount(); }

std::vector<std::string> FakeDevice::ClientNames() {
  std::vector<std::string> names = models_[0]->ClientNames();
  for (std::string& n : models_[1]->ClientNames()) names.push_back(std::move(n));
  return names;
}

void FakeDevice::SetConnectionPoints(bool offered) {
  std::lock_guard lock(mutex_);
  connection_points_ = offered;
}

void FakeDevice::HoldReads(const std::string& item_id) {
  parts_->device.Hold(parts_->space.Find(item_id)->handle);
}

bool FakeDevice::AwaitHeldRead() { return parts_->device.AwaitHeld(); }

void FakeDevice::ReleaseReads() { parts_->device.Release(); }

}  // namespace platform::com::testing
