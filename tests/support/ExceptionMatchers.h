#pragma once

// Assertions on the one exception type: the exact message, or a fixed prefix for texts that end
// in a third-party library's reason. Built on thrownMessage (RecordBytes.h).

#include <gtest/gtest.h>

#include <string>

#include <qrlcore/Exception.h>

#include "support/RecordBytes.h"

#define EXPECT_KXXCP_MESSAGE(statementA, messageA)                                             \
  EXPECT_EQ(::quarlen_test::thrownMessage([&] { (void)(statementA); }), std::string(messageA)) \
      << #statementA

#define EXPECT_KXXCP_PREFIX(statementA, prefixA)                                                  \
  do {                                                                                            \
    const std::string kxxcpMessageL = ::quarlen_test::thrownMessage([&] { (void)(statementA); }); \
    EXPECT_EQ(kxxcpMessageL.rfind(std::string(prefixA), 0), 0u) << kxxcpMessageL;                 \
    EXPECT_GT(kxxcpMessageL.size(), std::string(prefixA).size()) << kxxcpMessageL;                \
  } while (0)
