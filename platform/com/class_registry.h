// Classes in the registry: ProgIDs and CLSIDs, the registration of a local server program
// (the keys a server writes for -REGSERVER and removes for -UNREGSERVER), and the record of a
// running server's endpoint, by which clients find it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/registry.h"

namespace platform::com {

// The registry form "{...}" (StringFromCLSID).
std::string StringFromCLSID(const CLSID& clsid);
// A ProgID's class: <ProgID>\CLSID, else the class of the version its CurVer names.
// CO_E_CLASSSTRING when the ProgID is unknown or its class text is malformed.
HRESULT CLSIDFromProgID(const std::string& prog_id, CLSID* clsid, const Registry& reg = Registry());
// A class text in braces, or else a ProgID (CLSIDFromString accepts both).
HRESULT CLSIDFromString(const std::string& text, CLSID* clsid, const Registry& reg = Registry());
// The versioned ProgID under CLSID\{...}\ProgID. REGDB_E_CLASSNOTREG when there is none.
HRESULT ProgIDFromCLSID(const CLSID& clsid, std::string* prog_id, const Registry& reg = Registry());

struct ServerRegistration {
  CLSID clsid;
  std::string prog_id;                     // e.g. "Qar.OPC_DA_Server_RM.1"
  std::string version_independent_prog_id;  // e.g. "Qar.OPC_DA_Server_RM"; may be empty
  std::string readable_name;
  std::string command;  // the LocalServer32 command line: program path, then arguments
  std::vector<CATID> categories;
  bool opc = true;  // write the "OPC" subkey that marks OPC servers under their ProgIDs
};

// "HKEY_CLASSES_ROOT\CLSID\{...}".
std::string ClassKey(const CLSID& clsid);
bool RegisterServer(const ServerRegistration& r, Registry& reg);
// Removes the class key and both ProgID keys (those that still name this class).
bool UnregisterServer(const ServerRegistration& r, Registry& reg);
// The LocalServer32 command line; nullopt when the class has none.
std::optional<std::string> LocalServerCommand(const CLSID& clsid, const Registry& reg = Registry());
// Splits a command line at blanks; double quotes group (a path with blanks).
std::vector<std::string> SplitCommandLine(const std::string& command);

// A running server: its endpoint (a transport target such as "unix:/run/..."), the process
// that serves it, and the TCP port where it takes calls from other computers (0: none).
struct RunningServer {
  std::string endpoint;
  uint32_t pid = 0;
  uint16_t remote_port = 0;
};

bool RecordRunningServer(const CLSID& clsid, const RunningServer& running, Registry& reg);
std::optional<RunningServer> FindRunningServer(const CLSID& clsid, const Registry& reg = Registry());
// Removes the record only while it is still the one of process pid (a newer server's stays).
bool ForgetRunningServer(const CLSID& clsid, uint32_t pid, Registry& reg);

}  // namespace platform::com
