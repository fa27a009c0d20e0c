#include "server/driver/custom_funk.h"

#include "server/driver/frame3964.h"

// Interim: the serial line parts follow once the serial port library is merged.
namespace serial {
class TComPort {};
}  // namespace serial

namespace driver {

TCustomFunk::TCustomFunk() : clock_(platform::DefaultClock()) {}
TCustomFunk::TCustomFunk(const PortFactory&, platform::Clock& clock) : clock_(clock) {}
TCustomFunk::~TCustomFunk() = default;

std::string TCustomFunk::StrToHex(std::string_view s) { return driver::StrToHex(s); }

}  // namespace driver
