// The "hidden window" of a server component: a main-thread queue on which the sinks post what
// the server reported, so that the component's events run later from the program's loop, in
// the order posted, after the call that was running has returned. It rides on the program's
// apartment (platform/com/apartment.h): a plain loop calls RunPending, a GUI loop schedules
// it from the apartment's wake-up hook.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/opc_types.h"

namespace kopl {

// Message numbers of the component.
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t WM_OPC_SHUTDOWN = WM_USER + 1;
inline constexpr uint32_t WM_OPC_DATACHANGE = WM_USER + 2;  // explorer build
inline constexpr uint32_t WM_OPC_DATACHANGE_VISUALISATION = 0x1602;
inline constexpr uint32_t WM_OPC_WRITEERROR = WM_USER + 3;
inline constexpr uint32_t WM_OPC_WRITECOMPLETE = WM_USER + 4;
// The connection ended without a shutdown request (the server went away or hangs); wParam:
// the number of the connection it was.
inline constexpr uint32_t WM_OPC_CONNECTIONLOST = WM_USER + 5;

// The items a callback changed, by group and client handle. They are looked up again when the
// message is handled, so an item or group freed in the meantime is simply left out.
struct TKoplPostedItems {
  int32_t group_id = -1;
  std::vector<platform::com::OPCHANDLE> handles;
};

struct TKoplMessage {
  uint32_t msg = 0;
  uintptr_t wParam = 0;
  std::unique_ptr<TKoplPostedItems> items;  // belongs to the message; freed after its handler
};

class TKoplWindow {
 public:
  using Handler = std::function<void(TKoplMessage& message)>;

  TKoplWindow(platform::com::Apartment& apartment, Handler handler);
  // Messages still queued are dropped unhandled (their item lists freed).
  ~TKoplWindow();
  TKoplWindow(const TKoplWindow&) = delete;
  TKoplWindow& operator=(const TKoplWindow&) = delete;

  void Post(uint32_t msg, uintptr_t wParam, std::unique_ptr<TKoplPostedItems> items = nullptr);
  platform::com::Apartment& Apartment() { return apartment_; }

 private:
  struct Target {
    Handler handler;
    bool alive = true;  // main thread only
  };
  platform::com::Apartment& apartment_;
  std::shared_ptr<Target> target_;
};

}  // namespace kopl
