// SPDX-License-Identifier: GPL-3.0-or-later
// The identifier arithmetic on its own, at its bit edges.
#include <gtest/gtest.h>

#include "can/identifier.h"

namespace {

struct ComposeRow {
    const char* name;
    int32_t pre0, pre1, pre2, preId0, preId1;
    int32_t expected;
};

const ComposeRow kComposeRows[] = {
    {"nothing", 0, 0, 0, 0, 0, 0x000},
    {"bit8FromPre0", 1, 0, 0, 0, 0, 0x100},
    {"bit9FromPre1", 0, 1, 0, 0, 0, 0x200},
    {"bit10FromPre2", 0, 0, 1, 0, 0, 0x400},
    {"lowDigitOnly", 0, 0, 0, 15, 0, 0x00F},
    {"highDigitOnly", 0, 0, 0, 0, 15, 0x0F0},
    {"bothDigits", 0, 0, 0, 15, 15, 0x0FF},
    {"headerExample", 0, 1, 0, 5, 10, 0x2A5},
    {"largest", 1, 1, 1, 15, 15, 2047},
};

TEST(IdentifierArithmetic, ComposesSwitchBitsAndDigits) {
    for (const ComposeRow& row : kComposeRows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(composeCanId(row.pre0, row.pre1, row.pre2, row.preId0, row.preId1), row.expected);
    }
}

}  // namespace
