// The OPC Common interfaces: client name and locale (IOPCCommon), the server's shutdown
// request to its clients (IOPCShutdown) and the server list of a machine (IOPCServerList).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com/enum.h"
#include "platform/com/opc_types.h"
#include "platform/com/unknown.h"

namespace platform::com {

class IOPCCommon : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x54E4B545, 0x3502, 0x4723, {0x92, 0xEE, 0xC7, 0x83, 0x2F, 0xAF, 0x43, 0xAB}};
  virtual HRESULT SetLocaleID(LCID dwLcid) = 0;
  virtual HRESULT GetLocaleID(LCID* pdwLcid) = 0;
  virtual HRESULT QueryAvailableLocaleIDs(std::vector<LCID>* pdwLcid) = 0;
  virtual HRESULT GetErrorString(HRESULT dwError, std::string* ppString) = 0;
  virtual HRESULT SetClientName(const std::string& szName) = 0;
};

class IOPCShutdown : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x6B79F8E1, 0xB9A1, 0x47C4, {0x95, 0xB9, 0xA7, 0x2C, 0x90, 0x2E, 0x96, 0xDE}};
  virtual HRESULT ShutdownRequest(const std::string& szReason) = 0;
};

class IOPCServerList : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
  virtual HRESULT EnumClassesOfCategories(ULONG cImplemented, const CATID* rgcatidImpl, ULONG cRequired,
                                          const CATID* rgcatidReq, std::shared_ptr<IEnumGUID>* ppenumClsid) = 0;
  virtual HRESULT GetClassDetails(const CLSID& clsid, std::string* ppszProgID, std::string* ppszUserType) = 0;
};

inline constexpr const IID& IID_IOPCCommon = IOPCCommon::kIid;
inline constexpr const IID& IID_IOPCShutdown = IOPCShutdown::kIid;
inline constexpr const IID& IID_IOPCServerList = IOPCServerList::kIid;

// The server-list component and the component categories of OPC servers.
inline constexpr CLSID CLSID_OpcServerList{0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr CATID CATID_OPCDAServer10{0x63D5F430, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCDAServer20{0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr CATID CATID_OPCAEServer10{0x58E13251, 0xAC87, 0x11D1, {0x84, 0xD5, 0x00, 0x60, 0x8C, 0xB8, 0xA7, 0xE9}};

}  // namespace platform::com
