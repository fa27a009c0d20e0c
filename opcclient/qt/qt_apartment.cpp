#include "opcclient/qt/qt_apartment.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdint>
#include <map>

namespace kopl {
namespace {

// The wake-up is an eventfd that a QSocketNotifier watches on the GUI thread. The work itself
// crosses threads only through the apartment's own locked queue, never through Qt's event queue.
struct Pump {
  int fd = -1;
  QSocketNotifier* notifier = nullptr;
};

std::map<platform::com::Apartment*, Pump>& Pumps() {
  static std::map<platform::com::Apartment*, Pump> pumps;  // GUI thread only
  return pumps;
}

}  // namespace

void AttachApartmentToQt(platform::com::Apartment& apartment) {
  DetachApartmentFromQt(apartment);
  Pump pump;
  pump.fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (pump.fd < 0) return;
  pump.notifier = new QSocketNotifier(pump.fd, QSocketNotifier::Read, QCoreApplication::instance());
  const int fd = pump.fd;
  QObject::connect(pump.notifier, &QSocketNotifier::activated, [fd, &apartment] {
    uint64_t count;
    while (read(fd, &count, sizeof count) == sizeof count) {
    }
    apartment.RunPending();
  });
  apartment.SetWakeUp([fd] {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(fd, &one, sizeof one);
  });
  Pumps()[&apartment] = pump;
  apartment.RunPending();  // what was posted before the loop existed
}

void DetachApartmentFromQt(platform::com::Apartment& apartment) {
  auto it = Pumps().find(&apartment);
  if (it == Pumps().end()) return;
  apartment.SetWakeUp(nullptr);
  delete it->second.notifier;
  // The eventfd stays open: a transport thread may still hold the old wake-up and write to it,
  // and a closed number could by then name another file.
  Pumps().erase(it);
}

}  // namespace kopl
