// Callbacks posted from other threads run on the GUI thread, in order, from Qt's event loop.
#include "opcclient/qt/qt_apartment.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <thread>
#include <vector>

namespace {

TEST(QtApartment, RunsPostsFromOtherThreadsOnTheGuiThreadInOrder) {
  int argc = 1;
  char name[] = "qt_apartment_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  platform::com::Apartment apartment;
  apartment.Post([] {});  // posted before the loop exists: must still run
  kopl::AttachApartmentToQt(apartment);

  const auto gui = std::this_thread::get_id();
  std::vector<int> seen;
  bool wrongThread = false;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i)
      apartment.Post([&, i] {
        wrongThread |= std::this_thread::get_id() != gui;
        seen.push_back(i);
        if (seen.size() == 100) app.quit();
      });
  });
  QTimer::singleShot(5000, &app, [&] { app.quit(); });  // a safety net, not a wait
  app.exec();
  poster.join();
  kopl::DetachApartmentFromQt(apartment);

  ASSERT_EQ(seen.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
  EXPECT_FALSE(wrongThread);
}

}  // namespace
