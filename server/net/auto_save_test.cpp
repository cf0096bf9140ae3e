#include "net/auto_save.h"

#include <gtest/gtest.h>

namespace {

TEST(AutoSave, DueOnlyWhenDirtyAndTheIntervalHasPassed) {
  struct Case {
    bool dirty;
    uint64_t now, last;
    bool due;
  };
  const Case cases[] = {
      {true, 1000 + 179999, 1000, false},
      {true, 1000 + 180000, 1000, true},
      {true, 1000 + 600000, 1000, true},  // a change after a long quiet time: at once
      {false, 1000 + 600000, 1000, false},
      {true, 0, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AutoSaveDue(c.dirty, c.now, c.last), c.due) << c.now - c.last;
  }
}

}  // namespace
