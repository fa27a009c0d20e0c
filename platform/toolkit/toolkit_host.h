// What crosses between the server library and the host program that loads it: the start-up
// record and the request record, the three callbacks through which the library builds the
// host's namespace, the five exports, and the few services of the host that the library calls.
// Both sides include this header. The services live in libqar_toolkit.so, which both link, so
// host and library share one thread-local last error and one message-box handler.
//
// Texts are zero-terminated Windows-1252 bytes. Every callback and service returns at once and
// throws nothing; a callback's non-zero result means success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/com/guid.h"
#include "platform/com/raw_variant.h"
#include "platform/filetime.h"

namespace platform::toolkit {

using com::RawVariant;
using com::VARTYPE;

#pragma pack(push, 1)

// Filled once when the library is loaded; SOXpSInitialize returns its address and the host
// reads it for the server's identity, its status answers and its own trace files. Text
// pointers stay valid until the library is unloaded.
struct TServerInitData {
  com::GUID ClassId;
  const char* ProgId;                    // "Qar.OPC_DA_Server_RM.1"
  const char* VersionIndependentProgId;  // "Qar.OPC_DA_Server_RM"
  const char* ServerName;                // readable name for registration
  int32_t UpdateRate;                    // ms
  uint8_t Reserved[16];
  const char* ExtraText1;
  const char* ExtraText2;
  const char* ExtraText3;
  uint16_t MajorVersion;
  uint16_t MinorVersion;
  uint16_t BuildNumber;
  const char* VendorInfo;
  int32_t DebugMode;  // 1 when the server's debug flag word is not 0
  const char* Description;
  int32_t Flags;
  const char* ExtraText4;
  const char* ExtraText5;
  const char* ExtraText6;
  const char* TraceFile1;  // the host's trace files, in the server folder
  const char* TraceFile2;
  int32_t TraceFileSize;
  int32_t TraceLevel1;
  int32_t TraceLevel2;
};

// One read or write in a batch of SOXpSHandleDARequests. Records follow each other without
// gaps. The value is unaligned here: reach it through RequestValue/SetRequestValue.
struct TDARequest {
  uint8_t HostData[12];  // the host's own; the library leaves it alone
  int32_t State;         // 2 once the library has taken the record up
  int32_t Result;        // 0 after a handled read, write or other operation
  uint8_t Value[16];     // RawVariant
  uint16_t Quality;      // OPC quality word
  FILETIME TimeStamp;
  int32_t ItemHandle;
};

#pragma pack(pop)

static_assert(sizeof(TServerInitData) == 166);
static_assert(offsetof(TServerInitData, ProgId) == 16);
static_assert(offsetof(TServerInitData, UpdateRate) == 40);
static_assert(offsetof(TServerInitData, Reserved) == 44);
static_assert(offsetof(TServerInitData, ExtraText1) == 60);
static_assert(offsetof(TServerInitData, MajorVersion) == 84);
static_assert(offsetof(TServerInitData, VendorInfo) == 90);
static_assert(offsetof(TServerInitData, DebugMode) == 98);
static_assert(offsetof(TServerInitData, Description) == 102);
static_assert(offsetof(TServerInitData, Flags) == 110);
static_assert(offsetof(TServerInitData, ExtraText4) == 114);
static_assert(offsetof(TServerInitData, TraceFile1) == 138);
static_assert(offsetof(TServerInitData, TraceFileSize) == 154);
static_assert(offsetof(TServerInitData, TraceLevel1) == 158);
static_assert(offsetof(TServerInitData, TraceLevel2) == 162);

static_assert(sizeof(RawVariant) == 16);
static_assert(sizeof(TDARequest) == 50);
static_assert(offsetof(TDARequest, State) == 12);
static_assert(offsetof(TDARequest, Result) == 16);
static_assert(offsetof(TDARequest, Value) == 20);
static_assert(offsetof(TDARequest, Quality) == 36);
static_assert(offsetof(TDARequest, TimeStamp) == 38);
static_assert(offsetof(TDARequest, ItemHandle) == 46);

inline RawVariant RequestValue(const TDARequest& r) { return com::LoadRawVariant(r.Value); }
inline void SetRequestValue(TDARequest& r, const RawVariant& v) { com::StoreRawVariant(r.Value, v); }

// Operations of SOXpSHandleDARequests.
inline constexpr int32_t kRequestRead = 0;
inline constexpr int32_t kRequestWrite = 1;

// Access rights of a tag, combined as bits.
inline constexpr uint32_t kAccessRead = 1;
inline constexpr uint32_t kAccessWrite = 2;

// Last errors that createNode sets when it fails.
inline constexpr uint32_t kErrorInvalidHandle = 6;      // unknown parent node
inline constexpr uint32_t kErrorInvalidParameter = 87;  // empty or unusable name
inline constexpr uint32_t kErrorHostException = 1064;   // the host failed inside the call

}  // namespace platform::toolkit

extern "C" {

// The namespace callbacks. Nodes, tags and properties are named by host-chosen 32-bit values.
// createNode: parent 0 is the root. On failure it returns 0 and sets the last error to one of
// the three codes above.
typedef int32_t (*TCreateNode)(uint32_t parent, const char* name, uint32_t* node);
typedef int32_t (*TCreateTag)(uint32_t node, const char* name, platform::com::VARTYPE canonicalType,
                              uint32_t accessRights, int32_t itemHandle, uint32_t* tag);
// The value belongs to the library: the host copies what it keeps.
typedef int32_t (*TCreateProperty)(uint32_t tag, uint32_t propertyId, const char* description,
                                   platform::com::VARTYPE type, uint32_t accessRights,
                                   const platform::com::RawVariant* value, int32_t propertyHandle,
                                   uint32_t* property);

// The five exports of the server library, in the order the host calls them.
typedef platform::toolkit::TServerInitData* (*TSOXpSInitialize)();
typedef void (*TSOXpSBuildDANameSpace)(TCreateNode createNode, TCreateTag createTag,
                                       TCreateProperty createProperty);
typedef int32_t (*TSOXpSStart)();
// Host threads may call this at once, also while the driver runs.
typedef void (*TSOXpSHandleDARequests)(int32_t operation, int32_t count, platform::toolkit::TDARequest* records);
typedef void (*TSOXpSStop)();

// Host services.

// The calling thread's last error.
uint32_t QarGetLastError(void);
void QarSetLastError(uint32_t code);

// An error box with one OK button. With a display (the host installed a handler) it blocks
// until confirmed and returns 1; without one, or when the handler could not show the box, it
// writes caption and text to stderr and returns 0 at once, so a server that runs without a
// display never hangs in a box.
int32_t QarMessageBox(const char* caption, const char* text);
// 1 when the box was shown and confirmed, 0 when it could not be shown.
typedef int32_t (*TQarMessageBoxHandler)(const char* caption, const char* text);
// Host side: how boxes are shown; nullptr when there is no display.
void QarSetMessageBoxHandler(TQarMessageBoxHandler handler);

// The debug window of a started server: the library asks the host to open it for what the
// window may read of the driver (an opc::TDebugSource*, server/opc/debug_source.h) and to close
// what it opened. Without a hook nothing opens and QarOpenDebugWindow returns nullptr; the
// library then installs the entry points of its own window library.
typedef void* (*TQarDebugWindowOpen)(void* source);
typedef void (*TQarDebugWindowClose)(void* window);
void QarSetDebugWindowHook(TQarDebugWindowOpen open, TQarDebugWindowClose close);
// 1 when a hook is installed, else 0.
int32_t QarDebugWindowHookInstalled(void);
void* QarOpenDebugWindow(void* protocol);
void QarCloseDebugWindow(void* window);

// The host program's first command-line argument ("" when it has none). Taken from the
// process's command line unless the host sets it (before it loads the library).
const char* QarHostFirstArgument(void);
void QarSetHostFirstArgument(const char* argument);

}  // extern "C"
