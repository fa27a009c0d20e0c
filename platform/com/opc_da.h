// The OPC DA 1.0a/2.0 interfaces as abstract classes, with the standard's method and argument
// names. Arguments are checked by the implementation; counts go with their arrays (an array
// argument may be nullptr only when its count is 0). Per-item results come back in vectors
// in the order of the request; the call's own result is S_FALSE when some item failed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com/enum.h"
#include "platform/com/opc_types.h"
#include "platform/com/unknown.h"

namespace platform::com {

class IOPCServer : public virtual IUnknown {
 public:
  static constexpr IID kIid{0xF7120408, 0x122F, 0x484E, {0xB1, 0xF7, 0x65, 0xBE, 0x75, 0x83, 0x6C, 0xE4}};
  // pTimeBias and pPercentDeadband may be nullptr (server defaults). OPC_E_DUPLICATENAME for a
  // name in use; OPC_S_UNSUPPORTEDRATE when the revised rate differs from the requested one.
  virtual HRESULT AddGroup(const std::string& szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                           OPCHANDLE hClientGroup, const LONG* pTimeBias, const float* pPercentDeadband,
                           LCID dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, const IID& riid,
                           std::shared_ptr<IUnknown>* ppUnk) = 0;
  virtual HRESULT GetErrorString(HRESULT dwError, LCID dwLocale, std::string* ppString) = 0;
  virtual HRESULT GetStatus(OPCSERVERSTATUS* ppServerStatus) = 0;
  // E_INVALIDARG for an unknown group handle.
  virtual HRESULT RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
};

class IOPCBrowseServerAddressSpace : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x90817836, 0x5F4C, 0x4F3C, {0x90, 0x4C, 0xDF, 0x0C, 0x9B, 0x3F, 0xEC, 0x9D}};
  virtual HRESULT QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
  virtual HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, const std::string& szString) = 0;
  virtual HRESULT BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, const std::string& szFilterCriteria,
                                   VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                   std::shared_ptr<IEnumString>* ppIEnumString) = 0;
  virtual HRESULT GetItemID(const std::string& szItemDataID, std::string* szItemID) = 0;
};

class IOPCItemProperties : public virtual IUnknown {
 public:
  static constexpr IID kIid{0xE1C9D144, 0x366F, 0x443D, {0xB7, 0x79, 0xF0, 0xE2, 0x58, 0x4B, 0x80, 0x6C}};
  virtual HRESULT QueryAvailableProperties(const std::string& szItemID, DWORD* pdwCount,
                                           std::vector<DWORD>* ppPropertyIDs,
                                           std::vector<std::string>* ppDescriptions,
                                           std::vector<VARTYPE>* ppvtDataTypes) = 0;
  virtual HRESULT GetItemProperties(const std::string& szItemID, DWORD dwCount, const DWORD* pdwPropertyIDs,
                                    std::vector<Variant>* ppvData, std::vector<HRESULT>* ppErrors) = 0;
};

class IOPCGroupStateMgt : public virtual IUnknown {
 public:
  static constexpr IID kIid{0xACAF35DA, 0x8C85, 0x4766, {0x86, 0x72, 0x8D, 0x35, 0x30, 0xFC, 0x41, 0x8D}};
  virtual HRESULT GetState(DWORD* pUpdateRate, BOOL* pActive, std::string* ppName, LONG* pTimeBias,
                           float* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                           OPCHANDLE* phServerGroup) = 0;
  // Every input may be nullptr (left as it is); pRevisedUpdateRate gets the rate in force.
  virtual HRESULT SetState(const DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, const BOOL* pActive,
                           const LONG* pTimeBias, const float* pPercentDeadband, const LCID* pLCID,
                           const OPCHANDLE* phClientGroup) = 0;
  virtual HRESULT SetName(const std::string& szName) = 0;
};

class IOPCItemMgt : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x302F5E71, 0x17BC, 0x4EF9, {0x8D, 0x85, 0x5E, 0xA7, 0x4C, 0xF2, 0x33, 0x67}};
  virtual HRESULT AddItems(DWORD dwCount, const OPCITEMDEF* pItemArray, std::vector<OPCITEMRESULT>* ppAddResults,
                           std::vector<HRESULT>* ppErrors) = 0;
  virtual HRESULT ValidateItems(DWORD dwCount, const OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                std::vector<OPCITEMRESULT>* ppValidationResults,
                                std::vector<HRESULT>* ppErrors) = 0;
  virtual HRESULT RemoveItems(DWORD dwCount, const OPCHANDLE* phServer, std::vector<HRESULT>* ppErrors) = 0;
  virtual HRESULT SetActiveState(DWORD dwCount, const OPCHANDLE* phServer, BOOL bActive,
                                 std::vector<HRESULT>* ppErrors) = 0;
  virtual HRESULT SetDatatypes(DWORD dwCount, const OPCHANDLE* phServer, const VARTYPE* pRequestedDatatypes,
                               std::vector<HRESULT>* ppErrors) = 0;
};

class IOPCSyncIO : public virtual IUnknown {
 public:
  static constexpr IID kIid{0xAEFC2DF5, 0x3F84, 0x4D45, {0xBF, 0x43, 0xD0, 0xAC, 0x35, 0x86, 0xA8, 0xBC}};
  virtual HRESULT Read(OPCDATASOURCE dwSource, DWORD dwCount, const OPCHANDLE* phServer,
                       std::vector<OPCITEMSTATE>* ppItemValues, std::vector<HRESULT>* ppErrors) = 0;
  virtual HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                        std::vector<HRESULT>* ppErrors) = 0;
};

class IOPCAsyncIO2 : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x78A80BD4, 0x0CAD, 0x447F, {0x8E, 0xC0, 0xA2, 0x6E, 0x21, 0x93, 0x3E, 0x2C}};
  virtual HRESULT Read(DWORD dwCount, const OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                       std::vector<HRESULT>* ppErrors) = 0;
  virtual HRESULT Write(DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                        DWORD dwTransactionID, DWORD* pdwCancelID, std::vector<HRESULT>* ppErrors) = 0;
  virtual HRESULT Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) = 0;
  virtual HRESULT Cancel2(DWORD dwCancelID) = 0;
};

// OPC DA 1.0 asynchronous write: the completion goes to the data-object sink that dwConnection
// names (format "OPCSTMFORMATWRITECOMPLETE").
class IOPCAsyncIO : public virtual IUnknown {
 public:
  static constexpr IID kIid{0xAF1DB4EC, 0xF7E7, 0x4069, {0x8A, 0x95, 0xE4, 0x68, 0x43, 0xAF, 0x71, 0x7F}};
  virtual HRESULT Write(DWORD dwConnection, DWORD dwCount, const OPCHANDLE* phServer, const Variant* pItemValues,
                        DWORD* pTransactionID, std::vector<HRESULT>* ppErrors) = 0;
};

class IOPCDataCallback : public virtual IUnknown {
 public:
  static constexpr IID kIid{0xB36A565D, 0x2934, 0x4ABE, {0xB7, 0x1A, 0x8C, 0x3F, 0xE7, 0xF7, 0x60, 0x85}};
  virtual HRESULT OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                               DWORD dwCount, const OPCHANDLE* phClientItems, const Variant* pvValues,
                               const WORD* pwQualities, const FILETIME* pftTimeStamps, const HRESULT* pErrors) = 0;
  virtual HRESULT OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                 HRESULT hrMastererror, DWORD dwCount, const OPCHANDLE* phClientItems,
                                 const Variant* pvValues, const WORD* pwQualities, const FILETIME* pftTimeStamps,
                                 const HRESULT* pErrors) = 0;
  virtual HRESULT OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                                  const OPCHANDLE* pClienthandles, const HRESULT* pErrors) = 0;
  virtual HRESULT OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;
};

inline constexpr const IID& IID_IOPCServer = IOPCServer::kIid;
inline constexpr const IID& IID_IOPCBrowseServerAddressSpace = IOPCBrowseServerAddressSpace::kIid;
inline constexpr const IID& IID_IOPCItemProperties = IOPCItemProperties::kIid;
inline constexpr const IID& IID_IOPCGroupStateMgt = IOPCGroupStateMgt::kIid;
inline constexpr const IID& IID_IOPCItemMgt = IOPCItemMgt::kIid;
inline constexpr const IID& IID_IOPCSyncIO = IOPCSyncIO::kIid;
inline constexpr const IID& IID_IOPCAsyncIO2 = IOPCAsyncIO2::kIid;
inline constexpr const IID& IID_IOPCAsyncIO = IOPCAsyncIO::kIid;
inline constexpr const IID& IID_IOPCDataCallback = IOPCDataCallback::kIid;

}  // namespace platform::com
