#include <gtest/gtest.h>
#include "app/diagnostics.h"
#include "protocol/external.h"
#include "tools/memhost/memhost.h"
TEST(Smoke, DebugLineCollects) { DebugLine("x %d", 1); EXPECT_STREQ(DebugLineAt(DebugLineCount()-1), "x 1"); }
TEST(Smoke, StoreWrites) { EXPECT_TRUE(PublishSlot(5, "a")); EXPECT_FALSE(PublishSlot(5, "a")); HexDump(); }
