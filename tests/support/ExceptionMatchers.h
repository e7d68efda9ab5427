#pragma once

// Assertions on the one exception type: the exact message, and where needed the function.

#include <gtest/gtest.h>
#include <qrlcore/Exception.h>

#include <string>

#define EXPECT_KXXCP_MESSAGE(statementA, messageA)                                \
  do {                                                                            \
    try {                                                                         \
      statementA;                                                                 \
      ADD_FAILURE() << "no exception from: " #statementA;                         \
    } catch (const kxxcp::Exception& kxxcpCaughtL) {                              \
      EXPECT_EQ(kxxcpCaughtL.getMessage(), std::string(messageA)) << #statementA; \
    }                                                                             \
  } while (0)

// The message starts with prefixA (for texts that end in a third-party library's reason).
#define EXPECT_KXXCP_PREFIX(statementA, prefixA)                                \
  do {                                                                          \
    try {                                                                       \
      statementA;                                                               \
      ADD_FAILURE() << "no exception from: " #statementA;                       \
    } catch (const kxxcp::Exception& kxxcpCaughtL) {                            \
      EXPECT_EQ(kxxcpCaughtL.getMessage().rfind(std::string(prefixA), 0), 0u)   \
          << kxxcpCaughtL.getMessage();                                         \
      EXPECT_GT(kxxcpCaughtL.getMessage().size(), std::string(prefixA).size()); \
    }                                                                           \
  } while (0)
