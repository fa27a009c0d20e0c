#include "platform/com/class_registry.h"

#include "platform/com/opc_common.h"

namespace platform::com {

namespace {

const std::string kRoot = kClassesRoot;
const std::string kRunning = std::string(kCurrentUser) + "\\Software\\Qar\\Running";

std::string ProgIdKey(const std::string& prog_id) { return kRoot + "\\" + prog_id; }

std::string CategoryName(const CATID& c) {
  if (c == CATID_OPCDAServer10) return "OPC Data Access Servers Version 1.0";
  if (c == CATID_OPCDAServer20) return "OPC Data Access Servers Version 2.0";
  if (c == CATID_OPCAEServer10) return "OPC Alarm & Event Server Version 1.0";
  return "";
}

// A ProgID must be one key name: no separators, no control characters.
bool ValidProgId(const std::string& p) {
  if (p.empty() || p.size() > 255) return false;
  for (unsigned char c : p) {
    if (c < 0x20 || c == '\\') return false;
  }
  return true;
}

}  // namespace

std::string StringFromCLSID(const CLSID& clsid) { return GuidToString(clsid); }

std::string ClassKey(const CLSID& clsid) { return kRoot + "\\CLSID\\" + GuidToString(clsid); }

HRESULT CLSIDFromProgID(const std::string& prog_id, CLSID* clsid, const Registry& reg) {
  if (!clsid) return E_POINTER;
  if (!ValidProgId(prog_id)) return CO_E_CLASSSTRING;
  std::string key = ProgIdKey(prog_id);
  std::optional<std::string> text = reg.String(key + "\\CLSID");
  if (!text) {
    // A version-independent ProgID without its own class entry: follow CurVer once.
    std::optional<std::string> cur = reg.String(key + "\\CurVer");
    if (cur && ValidProgId(*cur) && *cur != prog_id) text = reg.String(ProgIdKey(*cur) + "\\CLSID");
  }
  if (!text) return CO_E_CLASSSTRING;
  std::optional<GUID> g = GuidFromString(*text);
  if (!g) return CO_E_CLASSSTRING;
  *clsid = *g;
  return S_OK;
}

HRESULT CLSIDFromString(const std::string& text, CLSID* clsid, const Registry& reg) {
  if (!clsid) return E_POINTER;
  if (!text.empty() && text.front() == '{') {
    std::optional<GUID> g = GuidFromString(text);
    if (!g) return CO_E_CLASSSTRING;
    *clsid = *g;
    return S_OK;
  }
  return CLSIDFromProgID(text, clsid, reg);
}

HRESULT ProgIDFromCLSID(const CLSID& clsid, std::string* prog_id, const Registry& reg) {
  if (!prog_id) return E_POINTER;
  std::optional<std::string> p = reg.String(ClassKey(clsid) + "\\ProgID");
  if (!p) return REGDB_E_CLASSNOTREG;
  *prog_id = *p;
  return S_OK;
}

bool RegisterServer(const ServerRegistration& r, Registry& reg) {
  if (!ValidProgId(r.prog_id)) return false;
  if (!r.version_independent_prog_id.empty() && !ValidProgId(r.version_independent_prog_id)) return false;
  const std::string cls = ClassKey(r.clsid);
  const std::string clsid_text = GuidToString(r.clsid);
  bool ok = reg.SetValue(cls, "", r.readable_name) && reg.SetValue(cls + "\\LocalServer32", "", r.command) &&
            reg.SetValue(cls + "\\ProgID", "", r.prog_id);
  std::vector<std::string> prog_ids = {r.prog_id};
  if (!r.version_independent_prog_id.empty()) {
    ok = ok && reg.SetValue(cls + "\\VersionIndependentProgID", "", r.version_independent_prog_id);
    prog_ids.push_back(r.version_independent_prog_id);
    ok = ok && reg.SetValue(ProgIdKey(r.version_independent_prog_id) + "\\CurVer", "", r.prog_id);
  }
  for (const std::string& p : prog_ids) {
    ok = ok && reg.SetValue(ProgIdKey(p), "", r.readable_name) && reg.SetValue(ProgIdKey(p) + "\\CLSID", "", clsid_text);
    if (r.opc) ok = ok && reg.CreateKey(ProgIdKey(p) + "\\OPC");
  }
  for (const CATID& c : r.categories) {
    ok = ok && reg.CreateKey(cls + "\\Implemented Categories\\" + GuidToString(c));
    std::string cat_key = kRoot + "\\Component Categories\\" + GuidToString(c);
    if (!reg.KeyExists(cat_key)) ok = ok && reg.SetValue(cat_key, "409", CategoryName(c));
  }
  return ok;
}

bool UnregisterServer(const ServerRegistration& r, Registry& reg) {
  bool ok = true;
  for (const std::string& p : {r.prog_id, r.version_independent_prog_id}) {
    if (!ValidProgId(p)) continue;
    CLSID named;
    // A ProgID that another class has taken over in the meantime is not ours to remove.
    if (SUCCEEDED(CLSIDFromProgID(p, &named, reg)) && named != r.clsid) continue;
    ok = reg.DeleteKey(ProgIdKey(p)) && ok;
  }
  return reg.DeleteKey(ClassKey(r.clsid)) && ok;
}

std::optional<std::string> LocalServerCommand(const CLSID& clsid, const Registry& reg) {
  std::optional<std::string> cmd = reg.String(ClassKey(clsid) + "\\LocalServer32");
  if (!cmd || cmd->empty()) return std::nullopt;
  return cmd;
}

std::vector<std::string> SplitCommandLine(const std::string& command) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false, have = false;
  for (char c : command) {
    if (c == '"') {
      quoted = !quoted;
      have = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur.push_back(c);
      have = true;
    }
  }
  if (have) out.push_back(cur);
  return out;
}

bool RecordRunningServer(const CLSID& clsid, const RunningServer& running, Registry& reg) {
  std::string key = kRunning + "\\" + GuidToString(clsid);
  // A dead server's record goes first, and Pid comes last: a reader takes a record only once
  // it has its Pid, so it never mixes two servers' values.
  bool ok = reg.DeleteKey(key) && reg.SetValue(key, "Endpoint", running.endpoint);
  if (running.remote_port) ok = ok && reg.SetValue(key, "RemotePort", uint32_t{running.remote_port});
  return ok && reg.SetValue(key, "Pid", running.pid);
}

std::optional<RunningServer> FindRunningServer(const CLSID& clsid, const Registry& reg) {
  std::string key = kRunning + "\\" + GuidToString(clsid);
  std::optional<std::string> endpoint = reg.String(key, "Endpoint");
  std::optional<RegValue> pid = reg.Value(key, "Pid");
  if (!endpoint || endpoint->empty() || !pid || !std::holds_alternative<uint32_t>(*pid)) return std::nullopt;
  RunningServer r{*endpoint, std::get<uint32_t>(*pid)};
  std::optional<RegValue> port = reg.Value(key, "RemotePort");
  if (port && std::holds_alternative<uint32_t>(*port) && std::get<uint32_t>(*port) <= 0xFFFF) {
    r.remote_port = static_cast<uint16_t>(std::get<uint32_t>(*port));
  }
  return r;
}

bool ForgetRunningServer(const CLSID& clsid, uint32_t pid, Registry& reg) {
  std::optional<RunningServer> r = FindRunningServer(clsid, reg);
  if (r && r->pid != pid) return true;
  return reg.DeleteKey(kRunning + "\\" + GuidToString(clsid));
}

}  // namespace platform::com
