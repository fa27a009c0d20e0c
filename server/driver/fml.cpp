#include "server/driver/fml.h"


#include <stdexcept>

#include "platform/no_destroy.h"

#include "server/driver/utilities.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace driver {

namespace {
constinit platform::NoDestroy<std::unique_ptr<TFML>> fml_storage;
constinit platform::NoDestroy<platform::RwLock> register_lock_storage;
}  // namespace
constinit std::unique_ptr<TFML>& FML = fml_storage.value;
constinit platform::RwLock& RegisterLock = register_lock_storage.value;

TFML::~TFML() {
  if (support::TestDbgFlag(4)) WriteLog("FML: Destroy");
  const bool each = support::TestDbgFlag(1) && support::TestDbgFlag(4);
  for (size_t i = 0; i < items_.size(); ++i) {
    if (each) WriteLog("FML: Destroy, Nr(Anz)=" + support::IntStr(int32_t(i + 1)) + "(" +
                       support::IntStr(Count()) + ")");
    items_[i].reset();
  }
}

int32_t TFML::Add(std::unique_ptr<TFuMo> station) {
  items_.push_back(std::move(station));
  return Count() - 1;
}

TFuMo& TFML::Items(int32_t index) {
  TFuMo* s = Find(index);
  if (!s) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  return *s;
}

TFuMo* TFML::Find(int32_t index) {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[size_t(index)].get();
}

TWert& TFML::GetWert(int32_t station, int32_t group, int32_t index) {
  TFuMo* s = Find(station);
  return s ? s->GetWert(group, index) : spare_;
}

void StartStationListUnit() { FML.reset(); }

void StopStationListUnit() { FML.reset(); }

std::string AdrText(int32_t stationIndex) {
  TFuMo* s = FML ? FML->Find(stationIndex) : nullptr;
  if (!s) return {};
  return ("(ADR" + support::IntStr(s->Adr1) + ")").substr(0, 40);
}

}  // namespace driver
