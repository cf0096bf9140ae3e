// Saves and loads a store of about 100 MB: 100 groups of 10,000 macros of 100 bytes, and one
// group 10 levels deep. Prints one line per measurement: time and throughput.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "store/data.h"

namespace {

constexpr int kGroups = 100;
constexpr int kMacrosPerGroup = 10000;
constexpr size_t kMacroSize = 100;
constexpr int kDeepLevels = 10;

platform::Guid MakeGuid(uint32_t group, uint32_t macro) {
  platform::Guid g;
  for (int i = 0; i < 4; ++i) {
    g.bytes[i] = static_cast<uint8_t>(group >> (8 * i));
    g.bytes[4 + i] = static_cast<uint8_t>(macro >> (8 * i));
  }
  return g;
}

std::unique_ptr<CMVS5Macro> Macro(const platform::Guid& guid) {
  static const std::vector<std::byte> data(kMacroSize, std::byte{'m'});
  auto macro = std::make_unique<CMVS5Macro>();
  macro->set_guid(guid);
  macro->SetData(data);
  return macro;
}

void Build(CMVS5Data& data) {
  for (uint32_t g = 1; g <= kGroups; ++g) {
    auto group = std::make_unique<CMVS5MacroGroup>();
    group->set_guid(MakeGuid(g, 0));
    group->set_name(u"Bench group " + std::u16string(1, static_cast<char16_t>(u'A' + g % 26)));
    group->set_owner_uid(1);
    group->set_access_list({1 | AccessEntryGrant});
    for (uint32_t m = 1; m <= kMacrosPerGroup; ++m) group->InsertChild(Macro(MakeGuid(g, m)), -1);
    data.AppendGroup(std::move(group));
  }
  auto deep = std::make_unique<CMVS5MacroGroup>();
  deep->set_guid(MakeGuid(kGroups + 1, 0));
  deep->set_name(u"Deep");
  CMVS5Macro* tip = deep.get();
  for (uint32_t level = 1; level <= kDeepLevels; ++level) {
    auto macro = Macro(MakeGuid(kGroups + 1, level));
    CMVS5Macro* next = macro.get();
    tip->InsertChild(std::move(macro), -1);
    tip = next;
  }
  data.AppendGroup(std::move(deep));
  data.AddUser({u"Admin", u"OwnerCode", UserAdmin, 0});
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Report(const char* what, double seconds, uint64_t bytes) {
  std::printf("%-6s %8.3f s  %8.1f MB/s  (%.1f MB)\n", what, seconds,
              static_cast<double>(bytes) / 1e6 / seconds, static_cast<double>(bytes) / 1e6);
}

}  // namespace

int main() {
  char folder[] = "/tmp/mvs5_store_bench_XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string path = std::string(folder) + "/MVServer5.dat";
  int result = 0;
  {
    CMVS5Data data;
    auto start = std::chrono::steady_clock::now();
    Build(data);
    const double built = Seconds(start);
    const uint64_t bytes = 12 + data.UserSectionSize() + [&] {
      uint64_t sum = 0;
      for (const auto& g : data.groups()) sum += g->GroupRecordSize();
      return sum;
    }();
    Report("build", built, bytes);

    start = std::chrono::steady_clock::now();
    if (!data.Save(path)) {
      std::fprintf(stderr, "save failed\n");
      result = 1;
    }
    Report("save", Seconds(start), bytes);

    auto loaded = std::make_unique<CMVS5Data>();
    start = std::chrono::steady_clock::now();
    if (!loaded->Load(path) || loaded->groups().size() != data.groups().size()) {
      std::fprintf(stderr, "load failed\n");
      result = 1;
    }
    Report("load", Seconds(start), bytes);

    start = std::chrono::steady_clock::now();
    loaded.reset();
    Report("free", Seconds(start), bytes);
  }
  std::filesystem::remove_all(folder);
  return result;
}
