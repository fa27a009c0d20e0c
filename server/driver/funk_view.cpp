// The protocol object as a debug view sees it: copies taken by the driver thread, so a reader on
// another thread never sees a request record half way through a change.
#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"

namespace driver {

namespace {

TStationTimeouts TimeoutsOf(const TFuMo& st) { return {st.Timeout, st.RegCnt}; }

}  // namespace

void TCustomFunk::PublishView() {
  const TAnfrage& a = Anfrage;
  TFunkView v;
  v.ZS = ZS;
  v.AktFM = AktFM;
  v.Is3964r = Is3964r;
  v.DOfs = DOfs;
  v.AF = a.AF;
  v.US = a.US;
  v.PutKl = a.PutKl;
  v.PutStart = a.PutStart;
  v.PutAnz = a.PutAnz;
  v.GetKl = a.GetKl;
  v.GetStart = a.GetStart;
  v.GetAnz = a.GetAnz;
  v.TOindex = a.TOindex;
  v.TO = a.TO;

  const int32_t count = FML ? FML->Count() : 0;
  std::lock_guard lock(view_mutex_);
  view_ = v;
  // Only the driver thread changes Timeout and RegCnt, and only of the station it asks: after
  // the first copy of all, the station asked now and the one asked at the last copy are enough.
  if (station_view_.size() != size_t(count)) {
    station_view_.assign(size_t(count), {});
    for (int32_t i = 0; i < count; ++i) station_view_[size_t(i)] = TimeoutsOf(FML->Items(i));
  } else {
    for (int32_t us : {view_us_, a.US})
      if (TFuMo* st = FML ? FML->Find(us) : nullptr) station_view_[size_t(us)] = TimeoutsOf(*st);
  }
  view_us_ = a.US;
}

TFunkView TCustomFunk::View() const {
  std::lock_guard lock(view_mutex_);
  return view_;
}

TStationTimeouts TCustomFunk::StationView(int32_t station) const {
  std::lock_guard lock(view_mutex_);
  if (station < 0 || size_t(station) >= station_view_.size()) return {};
  return station_view_[size_t(station)];
}

}  // namespace driver
