#include "tools/radiosim/network.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

// The loader may write into its folder (an empty station-state file with PERMANENTDATEN), so
// it reads copies in a folder of our own: the simulator leaves the server's folder untouched.
class PrivateCopy {
 public:
  explicit PrivateCopy(const std::string& dir) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "radio-sim-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return;
    path_ = tmpl + "/";
    for (const char* name : {"Ostrel.INI", "Ostrel.PAR"}) {
      const std::string found = platform::FindFileNoCase(dir + name);
      std::error_code ec;
      if (!found.empty()) std::filesystem::copy_file(found, path_ + name, ec);
    }
  }
  ~PrivateCopy() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  // The folder with a trailing "/", or "" when it could not be made.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

bool LoadNetwork(const std::string& folder, Network& net, std::string& error) {
  const std::string dir = platform::WithTrailingSlash(folder.empty() ? "." : folder);
  const PrivateCopy copy(dir);
  if (copy.Path().empty()) {
    error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
    return false;
  }
  driver::ServerDir = copy.Path();
  driver::ResetOptions();
  driver::FML.reset();
  const int32_t code = driver::CreateFML();
  bool ok = code == 0 && driver::FML && driver::FML->Count() > 0;
  if (!ok) {
    std::string text = driver::GetErrorText(code);
    for (char& c : text)
      if (c == '\r') c = ' ';
    error = "cannot load " + dir + "Ostrel.INI: " + text;
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
