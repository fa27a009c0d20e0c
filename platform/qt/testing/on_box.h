// For window tests: acts on the next message box once its event loop runs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

namespace platform::qt::testing {

inline void OnBox(std::function<void(QMessageBox*)> act, int turns = 1000) {
  QTimer::singleShot(0, [act = std::move(act), turns]() mutable {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      act(box);
    } else if (turns > 0) {
      OnBox(std::move(act), turns - 1);
    } else {
      ADD_FAILURE() << "no message box came";
    }
  });
}

}  // namespace platform::qt::testing
