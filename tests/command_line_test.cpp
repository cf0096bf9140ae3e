// The command line of MVServer5: options, texts and exit codes.
#include <gtest/gtest.h>

#include "support/server_process.h"

namespace testing_support {
namespace {

constexpr char kHelp[] =
    "Morvane Server v5 Windows service. Available options are:\n"
    "  -install\n  -remove\n  -start\n  -stop\n  -restart\n  -addDefaultUser\n  -run\n\n"
    "Please note that you may need admin rights to change configuration of your PC.\n";
constexpr char kTryHelp[] = "Morvane Server v5 Windows service. Try -help for help\n";
constexpr char kNoManager[] = "Cannot open service control manager\n";

TEST(CommandLine, OptionsWithoutServer) {
  struct Case {
    std::vector<std::string> args;
    std::string output;
  };
  const Case cases[] = {
      {{}, kTryHelp},
      {{"-help"}, kHelp},
      {{"-HELP"}, kHelp},
      {{"/run"}, "Unknown option: /run. Try -help for help\n"},
      {{"-bogus", "-help"}, std::string("Unknown option: -bogus. Try -help for help\n") + kHelp},
      {{"-install"}, std::string("Installing service...\n") + kNoManager},
      {{"-remove"}, std::string("Removing service...\n") + kNoManager},
      {{"-start"}, std::string("Starting service...\n") + kNoManager},
      {{"-stop"}, std::string("Stopping service...\n") + kNoManager},
      {{"-restart"},
       std::string("Stopping service...\n") + kNoManager + "Starting service...\n" + kNoManager},
      {{"-install", "-start"},
       std::string("Installing service...\n") + kNoManager + "Starting service...\n" + kNoManager},
  };
  ServerProcess server;
  for (const Case& c : cases) {
    const RunResult r = server.Run(c.args);
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    EXPECT_EQ(r.exit_code, 2) << shown;
    EXPECT_EQ(r.output, c.output) << shown;
  }
  EXPECT_FALSE(FileExists(server.data_file()));  // none of them touches the store
}

TEST(CommandLine, RunOptionIsCaseInsensitive) {
  for (const char* option : {"-Run", "-RUN"}) {
    ServerProcess server;
    server.Start({option});
    EXPECT_TRUE(server.WaitForLine("* Ready and waiting for connections")) << option;
    EXPECT_EQ(server.Stop(), 1) << option;
  }
}

}  // namespace
}  // namespace testing_support
