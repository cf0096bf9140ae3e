#include "host/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "platform/module.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/mvs5-settings-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    unlink((dir_ + "/server.ini").c_str());
    rmdir(dir_.c_str());
  }
  // Settings read from an INI file with `text`, or from no INI file when `text` is null.
  std::unique_ptr<CMVS5Settings> Read(const char* text) {
    auto settings = std::make_unique<CMVS5Settings>();
    settings->ini_file_path = dir_ + "/server.ini";
    if (text != nullptr) std::ofstream(settings->ini_file_path) << text;
    settings->ReadSettings();
    return settings;
  }
  std::string dir_;
};

TEST_F(SettingsTest, DefaultsWithoutIniFile) {
  auto s = Read(nullptr);
  EXPECT_EQ(s->tcp_port, 25552);
  EXPECT_EQ(s->network_timeout, -900000000);
  EXPECT_EQ(s->data_file_path, platform::ModuleFileName() + ".dat");
}

TEST_F(SettingsTest, IniConversions) {
  struct Case {
    const char* ini;
    int32_t port;
    int64_t timeout;
    const char* data_file;  // null: the default
  };
  const Case cases[] = {
      {"[Main]\nNetworkTimeout=5\n", 25552, -50000000, nullptr},
      {"[Main]\nNetworkTimeout=0\n", 25552, 0, nullptr},
      // Seconds are unsigned 32-bit; the product is taken in 64 bits.
      {"[Main]\nNetworkTimeout=4294967295\n", 25552, -42949672950000000, nullptr},
      {"[Main]\nNetworkTCPPort=70000\n", 70000, -900000000, nullptr},
      {"[Main]\nNetworkTCPPort=-1\n", -1, -900000000, nullptr},
      {"[main]\nnetworktcpport = 8080 \n", 8080, -900000000, nullptr},
      {"[Other]\nNetworkTCPPort=1\n", 25552, -900000000, nullptr},
      {"[Main]\nDataFile=\n", 25552, -900000000, ""},
      {"[Main]\nDataFile=relative/store.dat\n", 25552, -900000000, "relative/store.dat"},
      {"[Main]\nDataFile=\"/srv/with blanks.dat\"\n", 25552, -900000000, "/srv/with blanks.dat"},
  };
  for (const Case& c : cases) {
    auto s = Read(c.ini);
    EXPECT_EQ(s->tcp_port, c.port) << c.ini;
    EXPECT_EQ(s->network_timeout, c.timeout) << c.ini;
    const std::string expected =
        c.data_file ? c.data_file : platform::ModuleFileName() + ".dat";
    EXPECT_EQ(s->data_file_path, expected) << c.ini;
  }
}

TEST_F(SettingsTest, DataFilePathIsCutAt259Characters) {
  const std::string ini = "[Main]\nDataFile=" + std::string(300, 'd') + "\n";
  auto s = Read(ini.c_str());
  EXPECT_EQ(s->data_file_path, std::string(259, 'd'));
}

}  // namespace
