// Checks that a call raises EComPort with the given code and operating-system error.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "serial/com_error.h"

namespace serial::testing {

inline void ExpectComError(const std::function<void()>& call, int32_t code, int32_t osError) {
  try {
    call();
    ADD_FAILURE() << "no EComPort, expected code " << code;
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code, code);
    EXPECT_EQ(e.OsErrorCode, osError);
  }
}

}  // namespace serial::testing
