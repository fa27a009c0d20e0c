#include "opcclient/qt/qt_apartment.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

namespace kopl {

void AttachApartmentToQt(platform::com::Apartment& apartment) {
  // A QPointer, so a post that races with the application's end schedules nothing.
  QPointer<QCoreApplication> app(QCoreApplication::instance());
  apartment.SetWakeUp([app, &apartment] {
    if (app)
      QMetaObject::invokeMethod(app.data(), [&apartment] { apartment.RunPending(); },
                                Qt::QueuedConnection);
  });
  apartment.RunPending();  // what was posted before the loop existed
}

void DetachApartmentFromQt(platform::com::Apartment& apartment) { apartment.SetWakeUp(nullptr); }

}  // namespace kopl
