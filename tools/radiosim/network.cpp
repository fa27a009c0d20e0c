#include "tools/radiosim/network.h"

#include "platform/files.h"
#include "server/driver/config_loader.h"
#include "server/driver/error_codes.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"

namespace radiosim {

namespace {

StationShape ShapeOf(driver::TFuMo& st) {
  StationShape s;
  s.name = st.StationName;
  s.index = st.StationIndex;
  s.adr1 = st.Adr1;
  const std::string& path = st.GetAdrPath();
  for (size_t i = 0; i < 4 && i < path.size(); ++i) s.path[i] = uint8_t(path[i]);
  s.binaryInputs = st.RegCount(driver::kGroupBE);
  s.analogInputs = st.RegCount(driver::kGroupAE);
  s.binaryOutputs = st.RegCount(driver::kGroupBA);
  s.analogOutputs = st.RegCount(driver::kGroupAA);
  s.params = st.RegCount(driver::kGroupRM);
  return s;
}

}  // namespace

bool LoadNetwork(const std::string& dir, Network& net, std::string& error) {
  driver::ServerDir = platform::WithTrailingSlash(dir.empty() ? "." : dir);
  driver::ResetOptions();
  driver::FML.reset();
  const int32_t code = driver::CreateFML();
  bool ok = code == 0 && driver::FML && driver::FML->Count() > 0;
  if (!ok) {
    std::string text = driver::GetErrorText(code);
    for (char& c : text)
      if (c == '\r') c = ' ';
    error = "cannot load " + driver::ServerDir + "Ostrel.INI: " + text;
  } else {
    net = Network{};
    net.modus = driver::Options.MODUS;
    net.timeoutMs = driver::Options.TIMEOUT;
    net.central = ShapeOf(driver::FML->Items(0));
    for (int32_t i = 1; i < driver::FML->Count(); ++i) net.stations.push_back(ShapeOf(driver::FML->Items(i)));
  }
  driver::FML.reset();
  driver::ServerDir.clear();
  driver::ResetOptions();
  return ok;
}

}  // namespace radiosim
