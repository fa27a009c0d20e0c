#include "host/tests/fake_library.h"

#include <cstring>

#include "platform/toolkit/toolkit_host.h"

namespace host::testing {

namespace com = platform::com;
namespace tk = platform::toolkit;

namespace {

tk::TServerInitData MakeRecord() {
  tk::TServerInitData d{};
  d.ClassId = com::GUID{0x1F0B7C3A, 0x5E21, 0x4D8C, {0x91, 0x6A, 0x3B, 0x72, 0x0D, 0x44, 0xE5, 0x19}};
  d.ProgId = "Test.Fake_Server.1";
  d.VersionIndependentProgId = "Test.Fake_Server";
  d.ServerName = "Fake server for the host's tests";
  d.VendorInfo = "Fake server V1";
  d.MajorVersion = 1;
  d.MinorVersion = 2;
  d.BuildNumber = 3;
  return d;
}

tk::TServerInitData record = MakeRecord();

}  // namespace

struct Exported {
  static tk::TServerInitData* Initialize() {
    FakeLibrary& f = FakeLibrary::Get();
    std::lock_guard lock(f.mutex_);
    f.calls_.push_back("initialize");
    return &record;
  }

  static void Build(TCreateNode node, TCreateTag tag, TCreateProperty property) {
    FakeLibrary& f = FakeLibrary::Get();
    {
      std::lock_guard lock(f.mutex_);
      f.calls_.push_back("build");
    }
    uint32_t root = 0;
    if (!node(0, f.root.c_str(), &root)) return;
    std::map<std::string, uint32_t> stations;
    for (const FakeTag& t : f.tags) {
      uint32_t parent = root;
      if (!t.station.empty()) {
        auto it = stations.find(t.station);
        if (it == stations.end()) {
          uint32_t made = 0;
          if (!node(root, t.station.c_str(), &made)) continue;
          it = stations.emplace(t.station, made).first;
        }
        parent = it->second;
      }
      uint32_t made = 0;
      if (!tag(parent, t.name.c_str(), t.type, t.access, t.handle, &made)) continue;
      for (const FakeProperty& p : t.properties) {
        com::RawVariant raw;
        com::RawVariantInit(&raw);
        com::VariantToRaw(p.value, &raw);
        uint32_t out = 0;
        property(made, p.id, p.description.c_str(), p.value.vt(), 1, &raw, t.handle + 1, &out);
        com::RawVariantClear(&raw);  // the host keeps a copy of its own
      }
    }
  }

  static int32_t Start() {
    FakeLibrary& f = FakeLibrary::Get();
    std::lock_guard lock(f.mutex_);
    f.calls_.push_back("start");
    return f.starts ? 1 : 0;
  }

  static void Handle(int32_t operation, int32_t count, tk::TDARequest* records) {
    FakeLibrary& f = FakeLibrary::Get();
    std::lock_guard lock(f.mutex_);
    if (f.stopped_) ++f.after_stop_;
    f.calls_.push_back((operation == tk::kRequestRead ? "read " : "write ") + std::to_string(count));
    for (int32_t i = 0; i < count; ++i) {
      tk::TDARequest& r = records[i];
      r.State = 2;
      r.Quality = 0;
      const int32_t h = r.ItemHandle;
      if (f.failing_.count(h)) return;
      FakeRegister& reg = f.registers_[h];
      if (operation == tk::kRequestRead) {
        ++f.reads_[h];
        com::RawVariant raw;
        com::RawVariantInit(&raw);
        com::VariantToRaw(reg.value, &raw);
        tk::SetRequestValue(r, raw);
        r.Quality = reg.quality;
        std::memcpy(&r.TimeStamp, &reg.stamp, sizeof reg.stamp);  // unaligned in the record
      } else {
        com::Variant v;
        com::VariantFromRaw(tk::RequestValue(r), &v);
        f.writes_.emplace_back(h, v);
        reg.value = v;
        reg.quality = 0x14;
      }
      r.Result = 0;
    }
  }

  static void Stop() {
    FakeLibrary& f = FakeLibrary::Get();
    std::lock_guard lock(f.mutex_);
    f.calls_.push_back("stop");
    f.stopped_ = true;
  }
};

FakeLibrary& FakeLibrary::Get() {
  static FakeLibrary library;
  return library;
}

Exports FakeLibrary::TheExports() {
  return {&Exported::Initialize, &Exported::Build, &Exported::Start, &Exported::Handle, &Exported::Stop};
}

void FakeLibrary::Reset() {
  std::lock_guard lock(mutex_);
  root = "ZFM";
  tags.clear();
  starts = true;
  registers_.clear();
  failing_.clear();
  reads_.clear();
  writes_.clear();
  calls_.clear();
  stopped_ = false;
  after_stop_ = 0;
}

void FakeLibrary::Set(int32_t handle, const com::Variant& value, uint16_t quality, platform::FILETIME stamp) {
  std::lock_guard lock(mutex_);
  registers_[handle] = {value, quality, stamp};
}

FakeRegister FakeLibrary::Register(int32_t handle) {
  std::lock_guard lock(mutex_);
  return registers_[handle];
}

void FakeLibrary::FailAt(int32_t handle) {
  std::lock_guard lock(mutex_);
  failing_.insert(handle);
}

size_t FakeLibrary::Reads(int32_t handle) {
  std::lock_guard lock(mutex_);
  auto it = reads_.find(handle);
  return it == reads_.end() ? 0 : it->second;
}

std::vector<std::pair<int32_t, com::Variant>> FakeLibrary::Writes() {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::vector<std::string> FakeLibrary::Calls() {
  std::lock_guard lock(mutex_);
  return calls_;
}

size_t FakeLibrary::RequestsAfterStop() {
  std::lock_guard lock(mutex_);
  return after_stop_;
}

}  // namespace host::testing
