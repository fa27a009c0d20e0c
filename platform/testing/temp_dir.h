// A temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace platform::testing {

// Puts a built program or library where a test installs it, as a link to it and a copy only
// where that is on another file system: dozens of tests each install tens of megabytes at once.
inline void PlaceFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::remove(to, ec);
  std::filesystem::create_hard_link(from, to, ec);
  if (ec) std::filesystem::copy_file(from, to);
}

// Writes a new file in place of what stands there, never through a link PlaceFile made.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::ofstream(path, std::ios::binary) << bytes;
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qar-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    path_ = made ? std::string(made) + "/" : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, with a trailing "/".
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

  void Write(const std::string& name, const std::string& bytes) const { WriteFile(path_ + name, bytes); }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(path_ + name); }

 private:
  std::string path_;
};

}  // namespace platform::testing
