// TKoplServer: the connection to one OPC DA server. It owns the groups with their items,
// receives the server's callbacks through the sinks and turns them into events that run from
// the program's loop (the hidden window), never inside a call into the server. Main thread
// only: the sinks are called on the apartment's thread too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl_errors.h"
#include "opcclient/kopl_services.h"
#include "opcclient/kopl_types.h"
#include "opcclient/kopl_window.h"
#include "platform/clock.h"
#include "platform/com/opc_common.h"
#include "platform/com/opc_da.h"

namespace kopl {

class TKoplShutdownEvent;

class TKoplServer {
 public:
  // The build's release text, data-change message and connect rules; the program's build
  // (Services().build) unless named.
  explicit TKoplServer(std::optional<KoplBuild> build = std::nullopt);
  ~TKoplServer();
  TKoplServer(const TKoplServer&) = delete;
  TKoplServer& operator=(const TKoplServer&) = delete;

  // ---- component ----
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  KoplBuild Build() const { return build_; }
  // Loading: while a session is read; setters only store. Designing: inside a form designer.
  bool Loading() const { return loading_; }
  bool Designing() const { return designing_; }
  void SetDesigning(bool designing) { designing_ = designing; }
  // After the properties were read: connects when they said Active = True.
  void Loaded();
  // Design position, kept for the session file.
  int32_t Left = 0;
  int32_t Top = 0;

  // ---- published properties ----
  bool BatchMode() const { return batch_mode_; }
  void SetBatchMode(bool value) { batch_mode_ = value; }
  const std::string& ComputerName() const { return computer_name_; }
  void SetComputerName(const std::string& value);
  const std::string& ServerName() const { return server_name_; }
  void SetServerName(const std::string& value);
  TKoplGroups& OPCGroups() { return *groups_; }
  TdDefaultGroup& OPCGroupDefault() { return group_default_; }
  bool Active() const { return active_; }
  void SetActive(bool value);
  const std::string& ClientName() const { return client_name_; }
  void SetClientName(std::string value) { client_name_ = std::move(value); }
  const std::string& Version() const { return version_; }
  void SetVersion(const std::string&) {}  // the release text is the library's
  int32_t ConnectDelay() const { return connect_delay_; }
  void SetConnectDelay(int32_t ms) { connect_delay_ = ms; }
  TKoplBrowser& Browser() { return *browser_; }

  TOnOPCErrorEvent OnError;
  TOnOPCServerShutdownEvent OnServerShutdown;
  TOnOPCConnectEvent OnConnect;
  TOnOPCConnectEvent OnDisconnect;
  TOnOPCDataChangeEvent OnDatachange;
  TOnOPCDataChangeEvent OnWriteError;
  TOnOPCDataChangeEvent OnWriteComplete;

  // ---- operations ----
  // Zero record when not connected (and OnError suppressed the error).
  tServerStateRec GetServerStatus();
  // The server's text of a code; "" when not connected or when the server has none.
  std::string GetErrorString(HRESULT code);
  // OnError may clear RaiseException; else EOPCException with the text.
  void DoError(const std::string& text);
  // True when connected; else "not connected to server" through DoError.
  bool CheckConnected();
  std::shared_ptr<platform::com::IOPCServer> GetServerIntf();
  std::shared_ptr<platform::com::IOPCCommon> GetCommonIntf();
  std::shared_ptr<platform::com::IOPCItemProperties> GetItemPropertiesIntf();
  // The item-properties interface obtained at connect, without the error path.
  const std::shared_ptr<platform::com::IOPCItemProperties>& ItemPropertiesRef() const { return item_props_; }
  // The server reference as held: null while not connected.
  const std::shared_ptr<platform::com::IOPCServer>& ServerRef() const { return server_; }
  // Connected and the server offers connection points (OPC DA 2.0 callbacks for the groups).
  bool SupportsConnectionPoints();
  // The hidden window, made on first use.
  TKoplWindow& WindowHandle();
  bool GroupsHoldItems();
  // Drops the shutdown sink and the cached interfaces, disconnects every group, detaches the
  // browser and drops the server reference.
  void DisconnectAll();

  // ---- session files (explorer build) ----
  // Appends the component's text form to stream.
  void SaveToStream(std::string& stream);
  void SaveToFile(const std::string& file_name);
  // Reads a text form into this component; EReadError for a text that does not follow it.
  void LoadFromStream(const std::string& stream);
  // CheckSessionFile, then LoadFromStream.
  void LoadFromFile(const std::string& file_name);
  // Exception "wrong fileformat" unless the first 299 bytes name the class.
  static void CheckSessionFile(const std::string& stream);

  // ---- the visualisation build ----
  // Display items attached for the fan-out after OnDatachange; nothing attaches any.
  int32_t AttachedDisplayCount() const { return 0; }

  // ---- what the sinks and tests need ----
  uint32_t DataChangeMessage() const;
  void PostMessage(uint32_t msg, uintptr_t wParam, std::unique_ptr<TKoplPostedItems> items = nullptr);
  // A client handle the server reported that is no item of the group: ignored, counted, and
  // logged the first time.
  void CountUnknownHandle(const TKoplGroup& group, platform::com::OPCHANDLE handle);
  uint32_t UnknownHandleCount() const { return unknown_handles_; }
  // The loop the events run from (the program's main apartment unless set before first use).
  void SetApartment(platform::com::Apartment& apartment) { apartment_ = &apartment; }
  platform::com::Apartment& Apartment() { return *apartment_; }
  void SetClock(platform::Clock* clock) { clock_ = clock; }
  // A browser that points at this component is told when the component is freed.
  void FreeNotification(TKoplBrowser* browser);
  void RemoveFreeNotification(TKoplBrowser* browser);

 private:
  friend class SessionReader;
  void Connect();
  // Has the transport post WM_OPC_CONNECTIONLOST when the new connection ends by itself.
  void WatchConnection();
  void Dispatch(TKoplMessage& message);
  TKoplItemList Resolve(const TKoplPostedItems* items);
  platform::Clock& Clock() { return clock_ ? *clock_ : platform::DefaultClock(); }

  KoplBuild build_;
  std::string name_;
  bool loading_ = false;
  bool designing_ = false;

  bool active_ = false;
  std::string server_name_;
  std::shared_ptr<platform::com::IOPCServer> server_;
  std::shared_ptr<platform::com::IOPCCommon> common_;
  std::shared_ptr<platform::com::IOPCItemProperties> item_props_;
  std::unique_ptr<TKoplBrowser> browser_;
  std::string computer_name_;
  std::unique_ptr<TKoplGroups> groups_;
  TdDefaultGroup group_default_;
  std::shared_ptr<TKoplShutdownEvent> shutdown_sink_;
  std::unique_ptr<TKoplWindow> window_;
  std::string client_name_;
  bool batch_mode_ = false;
  std::string version_;
  int32_t connect_delay_ = 300;

  platform::com::Apartment* apartment_;
  platform::Clock* clock_ = nullptr;
  uint32_t unknown_handles_ = 0;
  std::vector<TKoplBrowser*> notified_;
  // Alive while the connection is held: the transport's report of its end is for this
  // component only while it is, and only for the connection of its number.
  std::shared_ptr<char> connection_token_;
  uintptr_t connection_number_ = 0;
};

}  // namespace kopl
