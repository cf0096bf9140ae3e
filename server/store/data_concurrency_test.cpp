// Saves run while commands change the store: readers go on, writers wait for the shared lock,
// and no change is ever lost from the dirty state.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "store/data.h"
#include "store/store_test_util.h"

namespace {

using store_test::G;
using store_test::G32;

TEST(DataConcurrency, ChangesDuringSavesAreNeverLost) {
  store_test::TempDir dir;
  const std::string path = dir.File("d.dat");
  CMVS5Data data;
  auto group = std::make_unique<CMVS5MacroGroup>();
  group->set_guid(G(1));
  CMVS5MacroGroup* target = group.get();
  data.AppendGroup(std::move(group));

  constexpr uint32_t kChanges = 300;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (uint32_t i = 0; i < kChanges; ++i) {
      platform::ScopedLock guard(data.Lock(), platform::LockMode::Exclusive);
      store_test::Add(*target, G32(i + 1), "data");
      target->TouchGroup();
      data.MarkDirty();
    }
    done = true;
  });
  std::thread reader([&] {
    while (!done) {
      platform::ScopedLock guard(data.Lock(), platform::LockMode::Shared);
      EXPECT_NE(data.FindGroup(G(1)), nullptr);
    }
  });
  while (!done) EXPECT_TRUE(data.Save(path));
  writer.join();
  reader.join();

  // Whatever the last save in the loop saw, the changes after it keep the store dirty until a
  // save has written them.
  if (data.IsDirty()) {
    EXPECT_TRUE(data.Save(path));
  }
  EXPECT_FALSE(data.IsDirty());
  CMVS5Data loaded;
  ASSERT_TRUE(loaded.Load(path));
  EXPECT_EQ(loaded.groups()[0]->children().size(), kChanges);
}

}  // namespace
