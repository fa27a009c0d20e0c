// Certificates for tests, made with openssl in a test's own folder when the test runs (no key
// is ever kept in the repository): an authority, a second authority that nobody trusts, and a
// certificate per computer, its name as the DNS entry of its alternative names.
#pragma once

#include <cstdlib>
#include <string>

namespace platform::com::testing {

class TestPki {
 public:
  // Makes both authorities in dir (a folder with a trailing "/").
  explicit TestPki(std::string dir) : dir_(std::move(dir)) {
    ok_ = MakeAuthority("ca") && MakeAuthority("rogue-ca");
  }

  bool Ok() const { return ok_; }

  // Issues "<name>.crt" and "<name>.key", signed by the authority, or by the rogue one.
  bool Issue(const std::string& name, bool rogue = false) {
    const std::string ca = dir_ + (rogue ? "rogue-ca" : "ca");
    const std::string base = dir_ + name;
    return Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" + base +
               ".key' -out '" + base + ".csr' -subj '/CN=" + name + "'") &&
           Run("printf 'subjectAltName=DNS:%s\\nextendedKeyUsage=serverAuth,clientAuth\\n' '" + name + "' > '" +
               base + ".ext'") &&
           Run("openssl x509 -req -in '" + base + ".csr' -CA '" + ca + ".crt' -CAkey '" + ca +
               ".key' -CAcreateserial -days 2 -extfile '" + base + ".ext' -out '" + base + ".crt'");
  }

  std::string Authority() const { return dir_ + "ca.crt"; }
  std::string Certificate(const std::string& name) const { return dir_ + name + ".crt"; }
  std::string Key(const std::string& name) const { return dir_ + name + ".key"; }

 private:
  static bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

  bool MakeAuthority(const std::string& name) {
    const std::string base = dir_ + name;
    return Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" + base +
               ".key' -out '" + base + ".crt' -days 2 -subj '/CN=" + name +
               "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
  }

  std::string dir_;
  bool ok_ = false;
};

}  // namespace platform::com::testing
