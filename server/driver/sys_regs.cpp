#include "server/driver/sys_regs.h"

#include <utility>

#include "server/driver/fumo.h"

namespace driver {

namespace {

using Entry = std::pair<int32_t, const char*>;

// Names of the listed indexes; every other index below count is "#".
template <size_t N>
std::string Lookup(const Entry (&table)[N], int32_t index, int32_t count) {
  if (index < 0 || index >= count) return {};
  for (const auto& [i, name] : table)
    if (i == index) return name;
  return "#";
}

constexpr Entry kCentralParams[] = {
    {0, "RM_FUNKLAYER"}, {6, "RM_ID"},          {7, "RM_VERSION"},      {8, "RM_SNR"},
    {14, "RM_RECPOWER"}, {16, "&RM_STATNR"},    {32, "&RM_ZVZ"},        {33, "&RM_QVZ"},
    // Time-slot mode with the radio clock only:
    {44, "RM_ZEITSCHLITZE"}, {49, "RM_DCF_STATUS"}, {50, "RM_DCF_SYNCTIME"},
    {53, "RM_DCF_TIME1"},    {54, "RM_DCF_TIME2"},  {55, "RM_DCF_TIME3"},
};

constexpr Entry kCentralSystem[] = {{0, "RS_STATUS"}, {1, "\xA7RS_DCF_TIME"}, {2, "\xA7RS_DCF_PCREF"}};

constexpr Entry kStationSystem[] = {
    {0, "&RS_KOM_OK"}, {1, "&RS_KOM_OK_INP"}, {2, "RS_KOM_FAIL"}, {3, "RS_RESPTIME"}, {4, "&RS_STATUS"},
};

constexpr Entry kStationParamsLong[] = {
    {0, "RM_FUNKLAYER"},    {6, "RM_ID"},           {7, "RM_VERSION"},      {12, "RM_SENDPOWER"},
    {13, "RM_DEFPOWER"},    {14, "RM_RECPOWER"},    {16, "&RM_STATNR"},     {17, "&RM_OP_MODE"},
    {32, "&RM_Z_TIMEOUT"},  {33, "&RM_Q_TIMEOUT"},  {36, "&RM_MOP_TIMEOUT"},
};

constexpr Entry kStationParams[] = {
    {0, "RM_FUNKLAYER"},   {1, "&RM_T_TIMEOUT"},   {2, "&RM_X_TIMEOUT"},  {6, "RM_ID"},
    {7, "RM_VERSION"},     {8, "RM_SNR"},          {10, "RM_FUNKKANAL"},  {11, "RM_DEFKANAL"},
    {12, "RM_SENDPOWER"},  {13, "RM_DEFPOWER"},    {14, "RM_RECPOWER"},   {16, "&RM_STATNR"},
    {18, "&RM_PINCFG"},    {19, "&RM_AbtastZeitMW"}, {30, "RM_ANZDIGIN"}, {31, "RM_ANZANAIN"},
    {32, "RM_ANZDIGOUT"},  {33, "RM_ANZANAOUT"},   {34, "RM_ANZCOUNTER"}, {35, "RM_ANZTIMER"},
};

constexpr int32_t kStationSystemCount = 13;  // 5..12 carry the input and output words
constexpr int32_t kModus0StationParams = 8;

}  // namespace

std::string SysRegName(const TFuMo& station, int32_t stationIndex, int32_t group, int32_t index,
                       int32_t modus) {
  if (stationIndex == 0) {
    if (group == kGroupSystem) return Lookup(kCentralSystem, index, modus == 2 ? 3 : 1);
    if (group == kGroupRM) return Lookup(kCentralParams, index, modus == 0 ? 15 : modus == 1 ? 44 : 56);
    return {};
  }
  if (group == kGroupSystem) return Lookup(kStationSystem, index, kStationSystemCount);
  if (group != kGroupRM) return {};
  if (station.Info[0] & 8)
    return Lookup(kStationParamsLong, index, modus == 0 ? kModus0StationParams : 37);
  return Lookup(kStationParams, index, modus == 0 ? kModus0StationParams : 36);
}

}  // namespace driver
