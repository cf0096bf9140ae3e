// Runs the real MVServer5 in a temporary folder: a copy of the executable, its own INI with a
// free port, its own data file. Collects what it prints, line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

using namespace std::chrono_literals;

// A TCP socket bound to port `port` of every IPv4 and IPv6 address, or -1 when it is taken.
int BindDualStack(uint16_t port);

// A port that nobody uses at the moment, on both 127.0.0.1 and ::1.
uint16_t FreePort();

// A temporary folder, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

struct RunResult {
  int exit_code;  // 128 + signal when ended by a signal
  std::string output;
};

class ServerProcess {
 public:
  // Copies the executable into a new temporary folder and writes an INI file there that sets
  // the port to port() and adds `ini_lines` (e.g. "NetworkTimeout=1") to section Main.
  explicit ServerProcess(const std::string& ini_lines = "");
  ~ServerProcess();  // kills a server still running (SIGKILL), removes the folder

  const TempDir& dir() const { return dir_; }
  std::string executable() const { return dir_ / "MVServer5"; }
  std::string data_file() const { return executable() + ".dat"; }
  uint16_t port() const { return port_; }
  void WriteIni(const std::string& text);  // replaces the whole INI file

  // Starts the server with `args` and returns at once.
  void Start(const std::vector<std::string>& args = {"-run"});
  // Starts it with -run and waits for "* Ready and waiting for connections".
  bool StartAndWaitReady();
  // Runs the executable with `args` to its end (at most `limit`).
  RunResult Run(const std::vector<std::string>& args, std::chrono::milliseconds limit = 20s);

  // Waits until a line containing `needle` was printed (counting from line `from`); returns
  // its index, or nullopt after `limit`.
  std::optional<size_t> WaitForLine(const std::string& needle,
                                    std::chrono::milliseconds limit = 5s, size_t from = 0);
  std::vector<std::string> Lines() const;
  size_t CountLines(const std::string& needle) const;

  // Sends SIGINT and waits for the exit; returns the exit code (128 + signal for a signal).
  int Stop(std::chrono::milliseconds limit = 20s);
  // Waits for the process to end by itself.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);
  pid_t pid() const { return pid_; }

 private:
  void ReadOutput(int fd);

  TempDir dir_;
  uint16_t port_;
  pid_t pid_ = -1;
  std::thread reader_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
  std::string partial_;
  bool eof_ = false;
};

}  // namespace testing_support
