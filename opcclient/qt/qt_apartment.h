// Lets a Qt program's event loop run the apartment: every post from a transport thread queues
// one RunPending on the GUI thread, so events run in order, after the call that was running.
#pragma once

#include "platform/com/apartment.h"

namespace kopl {

// Call on the GUI thread once a QApplication exists. Detach before the application goes away.
void AttachApartmentToQt(platform::com::Apartment& apartment = platform::com::MainApartment());
void DetachApartmentFromQt(platform::com::Apartment& apartment = platform::com::MainApartment());

}  // namespace kopl
