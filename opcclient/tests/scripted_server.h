// An in-process OPC server for the library's unit tests. It keeps what a client asks of it
// (groups, items, states, writes) in plain fields a test reads, fails any call the test names,
// and calls the client's sinks only when the test says so, with whatever arguments the test
// gives (foreign handles included).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/com/connection_point.h"
#include "platform/com/data_object.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"

namespace kopl::testing {

using namespace platform::com;

struct ScriptedItemDef {
  VARTYPE canonical = VT_I4;
  DWORD rights = OPC_READABLE | OPC_WRITEABLE;
  HRESULT write_error = S_OK;  // per-item result of writes
  HRESULT remove_error = S_OK;
};

struct ScriptedItem {
  std::string id;
  std::string access_path;
  OPCHANDLE client = 0;
  bool active = true;
  VARTYPE requested = VT_EMPTY;
};

struct ScriptedWrite {
  bool async = false;
  DWORD transaction = 0;  // async: the client's transaction id (DA 2.0) or 0 (DA 1.0)
  DWORD connection = 0;   // DA 1.0: the advise connection named
  std::vector<OPCHANDLE> handles;
  std::vector<Variant> values;
};

class ScriptedServer;

class ScriptedGroup final : public IOPCItemMgt,
                            public IOPCGroupStateMgt,
                            public IOPCSyncIO,
                            public IOPCAsyncIO2,
                            public IOPCAsyncIO,
                            public IDataObject,
                            public IConnectionPointContainer,
                            public std::enable_shared_from_this<ScriptedGroup> {
 public:
  explicit ScriptedGroup(ScriptedServer& server) : server_(server) {}

  // State as the client set it.
  std::string name;
  bool active = false;
  DWORD rate = 0;
  OPCHANDLE client = 0;
  OPCHANDLE handle = 0;
  LONG time_bias = 0;
  float dead_band = 0;
  LCID lcid = 0;
  bool removed = false;
  std::map<OPCHANDLE, ScriptedItem> items;  // by server handle
  std::vector<ScriptedWrite> writes;
  int set_state_calls = 0;

  // The sinks the client advised.
  std::shared_ptr<IOPCDataCallback> Callback() const;
  std::shared_ptr<IAdviseSink> StreamSink() const { return stream_sink_; }
  DWORD StreamConnection() const { return stream_connection_; }
  // The connection advised for write completions; an OPC DA 1.0 write must name it.
  DWORD WriteCompleteConnection() const { return write_sink_ ? write_connection_ : 0; }
  // The client handle the client gave an item ID; 0xFFFFFFFF when it has none.
  OPCHANDLE ClientOf(const std::string& item_id) const;
  // A data change of the named items through the data callback.
  void SendData(DWORD transaction, const std::vector<std::string>& ids, const std::vector<Variant>& values,
                WORD quality = OPC_QUALITY_GOOD);

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override;
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override;
  HRESULT AddItems(DWORD dwCount, const OPCITEMDEF* pItemArray, std::vector<OPCITEMRESULT>* ppAddResults,
                   std::vector<HRESULT>* ppErrors) override;
  HRESULT ValidateItems(DWORD dwCount, const OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                        std::vector<OPCITEMRESULT>* ppValidationResults, std::vector<HRESULT>* ppErrors) override;
  HRESULT RemoveItems(DWORD dwCount, const OPCHANDLE* phServer, std::vector<HRESULT>* ppErrors) override;
  HRESULT SetActiveState(DWORD dwCount, const OPCHANDLE* phServer, BOOL bActive,
                         std::vector<HRESULT>* ppErrors) override;
  HRESULT SetDatatypes(DWORD dwCount, const OPCHANDLE* phServer, const VARTYPE* pRequestedDatatypes,
                       std::vector<HRESULT>* ppErrors) override;
  HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, std::string* ppName, LONG* pTimeBias, float* pPercentDeadband,
                   LCID* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
  HRESULT SetState(const DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, const BOOL* pActive,
                   const LONG* pTimeBias, const float* pPercentDeadband, const LCID* pLCID,
                   const OPCHANDLE* phClientGroup) override;
  HRESULT SetName(const std::string& szName) override;
  HRESULT Read(OPCDATASOURCE, DWORD, const OPCHANDLE*, std::vector<OPCITEMSTATE>*, std::vector<HRESULT>*) override {
    return E_NOTIMPL;
  }
  HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                std::vector<HRESULT>* ppErrors) override;
  HRESULT Read(DWORD, const OPCHANDLE*, DWORD, DWORD*, std::vector<HRESULT>*) override { return E_NOTIMPL; }
  HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues, DWORD dwTransactionID,
                DWORD* pdwCancelID, std::vector<HRESULT>* ppErrors) override;
  HRESULT Refresh2(OPCDATASOURCE, DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT Cancel2(DWORD) override { return E_NOTIMPL; }
  HRESULT Write(DWORD dwConnection, DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                DWORD* pTransactionID, std::vector<HRESULT>* ppErrors) override;
  HRESULT DAdvise(const FORMATETC* pformatetc, DWORD advf, const std::shared_ptr<IAdviseSink>& pAdvSink,
                  DWORD* pdwConnection) override;
  HRESULT DUnadvise(DWORD dwConnection) override;

 private:
  HRESULT ItemCall(const char* name, DWORD count, const OPCITEMDEF* defs, bool add,
                   std::vector<OPCITEMRESULT>* results, std::vector<HRESULT>* errors);
  HRESULT PerHandle(const char* name, DWORD count, const OPCHANDLE* handles, std::vector<HRESULT>* errors,
                    const std::function<HRESULT(ScriptedItem&)>& each);
  HRESULT Writes(const char* name, DWORD count, const OPCHANDLE* handles, const Variant* values,
                 std::vector<HRESULT>* errors, ScriptedWrite w);

  ScriptedServer& server_;
  std::shared_ptr<ConnectionPoint<IOPCDataCallback>> point_ = std::make_shared<ConnectionPoint<IOPCDataCallback>>();
  std::shared_ptr<IAdviseSink> stream_sink_;
  DWORD stream_connection_ = 0;
  std::shared_ptr<IAdviseSink> write_sink_;
  DWORD write_connection_ = 0;
};

class ScriptedServer final : public IOPCServer,
                             public IOPCCommon,
                             public IOPCItemProperties,
                             public IOPCBrowseServerAddressSpace,
                             public IConnectionPointContainer,
                             public std::enable_shared_from_this<ScriptedServer> {
 public:
  // What the server offers; change before the client connects.
  bool connection_points = true;  // false: an OPC DA 1.0 server (data-object streams only)
  bool offers_common = true;
  bool offers_item_properties = true;
  bool offers_browse = true;
  bool offers_async2 = true;
  bool offers_async1 = true;
  bool offers_sync = true;
  bool offers_state = true;
  bool offers_data_object = true;
  // The rate the server grants for a requested one.
  std::function<DWORD(DWORD)> revise = [](DWORD r) { return r; };

  // The address space: known item IDs (others are OPC_E_UNKNOWNITEMID).
  std::map<std::string, ScriptedItemDef> known;
  // Calls named here fail with the code ("AddGroup", "AddItems", "SetState", "Write", ...).
  std::map<std::string, HRESULT> fail;
  // Runs inside every write call, before it answers: what the client shows meanwhile.
  std::function<void()> while_writing;
  // Every call, as "<method> <detail>".
  std::vector<std::string> calls;
  std::string client_name;
  std::map<HRESULT, std::string> error_texts;  // GetErrorString

  // Browsing: a tree of branches, each with leaves; item ID = path joined by ".".
  bool flat = false;
  std::map<std::string, std::vector<std::string>> branches;  // path ("" = root) -> child branches
  std::map<std::string, std::vector<std::string>> leaves;    // path -> leaves
  std::vector<std::string> position;
  std::vector<std::string> last_browse;  // type, filter, data type, rights of the last BrowseOPCItemIDs

  struct Property {
    DWORD id;
    std::string description;
    VARTYPE vt;
    Variant value;
    HRESULT error = S_OK;
  };
  std::map<std::string, std::vector<Property>> properties;

  OPCSERVERSTATUS status;

  std::vector<std::shared_ptr<ScriptedGroup>> groups;
  ScriptedGroup* Group(const std::string& name);
  // Groups not removed.
  size_t LiveGroups() const;
  std::shared_ptr<IOPCShutdown> ShutdownSink() const;
  size_t ShutdownSinks() const { return shutdown_point_->Sinks().size(); }

  HRESULT Failure(const char* method) const;
  void Log(const std::string& line) { calls.push_back(line); }
  size_t CountCalls(const std::string& prefix) const;

  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override;
  HRESULT FindConnectionPoint(const IID& riid, std::shared_ptr<IConnectionPoint>* ppCP) override;
  HRESULT AddGroup(const std::string& szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                   const LONG* pTimeBias, const float* pPercentDeadband, LCID dwLCID, OPCHANDLE* phServerGroup,
                   DWORD* pRevisedUpdateRate, const IID& riid, std::shared_ptr<IUnknown>* ppUnk) override;
  HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, std::string* ppString) override;
  HRESULT GetStatus(OPCSERVERSTATUS* ppServerStatus) override;
  HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override;
  HRESULT SetLocaleID(LCID) override { return S_OK; }
  HRESULT GetLocaleID(LCID* l) override {
    *l = 0;
    return S_OK;
  }
  HRESULT QueryAvailableLocaleIDs(std::vector<LCID>* l) override {
    l->clear();
    return S_OK;
  }
  HRESULT GetErrorString(HRESULT dwError, std::string* ppString) override { return GetErrorString(dwError, 0, ppString); }
  HRESULT SetClientName(const std::string& szName) override;
  HRESULT QueryAvailableProperties(const std::string& szItemID, DWORD* pdwCount, std::vector<DWORD>* ppPropertyIDs,
                                   std::vector<std::string>* ppDescriptions,
                                   std::vector<VARTYPE>* ppvtDataTypes) override;
  HRESULT GetItemProperties(const std::string& szItemID, DWORD dwCount, const DWORD* pdwPropertyIDs,
                            std::vector<Variant>* ppvData, std::vector<HRESULT>* ppErrors) override;
  HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, const std::string& szString) override;
  HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, const std::string& szFilterCriteria,
                           VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                           std::shared_ptr<IEnumString>* ppIEnumString) override;
  HRESULT GetItemID(const std::string& szItemDataID, std::string* szItemID) override;

 private:
  std::string PathText() const;
  std::shared_ptr<ConnectionPoint<IOPCShutdown>> shutdown_point_ = std::make_shared<ConnectionPoint<IOPCShutdown>>();
  OPCHANDLE next_group_ = 100;
  friend class ScriptedGroup;
  OPCHANDLE next_item_ = 5000;
};

// The CLSID and ProgID the tests register the scripted server under.
inline constexpr CLSID kScriptedClsid{0x3C1F0B7A, 0x9E55, 0x4D21, {0x8A, 0x6E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
inline constexpr const char* kScriptedProgId = "Test.Scripted.1";

}  // namespace kopl::testing
