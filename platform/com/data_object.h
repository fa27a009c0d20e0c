// The data-object advise path of OPC DA 1.0: a client hands IDataObject::DAdvise an
// IAdviseSink and a format; the server then sends each group's changes as one memory block
// (OnDataChange with the block in the STGMEDIUM). Clipboard formats are process-wide numbers
// registered by name; between processes they travel by name.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/opc_types.h"
#include "platform/com/unknown.h"

namespace platform::com {

using CLIPFORMAT = uint16_t;

inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD TYMED_HGLOBAL = 1;
inline constexpr DWORD ADVF_PRIMEFIRST = 2;

struct FORMATETC {
  CLIPFORMAT cfFormat = 0;
  void* ptd = nullptr;  // target device: always none here
  DWORD dwAspect = DVASPECT_CONTENT;
  LONG lindex = -1;
  DWORD tymed = TYMED_HGLOBAL;
};

struct STGMEDIUM {
  DWORD tymed = TYMED_HGLOBAL;
  std::vector<uint8_t> hGlobal;  // the memory block
};

// The same name gives the same number for the whole run (from 0xC000 on); 0 for an empty name.
// The process keeps every name it registers: never register a name that another process sent.
CLIPFORMAT RegisterClipboardFormat(const std::string& name);
// The number of a name registered already (the stream formats below always are); 0 otherwise.
CLIPFORMAT FindClipboardFormat(const std::string& name);
// The name of a registered format; nullopt for an unknown number.
std::optional<std::string> GetClipboardFormatName(CLIPFORMAT format);

// The stream formats of OPC DA 1.0.
inline constexpr const char* kOpcStmFormatData = "OPCSTMFORMATDATA";
inline constexpr const char* kOpcStmFormatDataTime = "OPCSTMFORMATDATATIME";
inline constexpr const char* kOpcStmFormatWriteComplete = "OPCSTMFORMATWRITECOMPLETE";

class IAdviseSink : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x038D55DE, 0x0D8F, 0x4D43, {0x8C, 0x1C, 0xD2, 0x0E, 0x81, 0x4F, 0xC6, 0x73}};
  virtual void OnDataChange(const FORMATETC* pFormatetc, const STGMEDIUM* pStgmed) = 0;
  virtual void OnViewChange(DWORD dwAspect, LONG lindex) = 0;
  virtual void OnRename() = 0;
  virtual void OnSave() = 0;
  virtual void OnClose() = 0;
};

class IDataObject : public virtual IUnknown {
 public:
  static constexpr IID kIid{0x6CA45135, 0xA24A, 0x4B2A, {0xA1, 0x81, 0xAC, 0xE1, 0x54, 0x21, 0xAD, 0xF1}};
  // DV_E_FORMATETC for a format the object does not send.
  virtual HRESULT DAdvise(const FORMATETC* pformatetc, DWORD advf, const std::shared_ptr<IAdviseSink>& pAdvSink,
                          DWORD* pdwConnection) = 0;
  virtual HRESULT DUnadvise(DWORD dwConnection) = 0;
};

inline constexpr const IID& IID_IAdviseSink = IAdviseSink::kIid;
inline constexpr const IID& IID_IDataObject = IDataObject::kIid;

}  // namespace platform::com
