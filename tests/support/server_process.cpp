#include "support/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testing_support {

namespace {

int ExitCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::optional<int> WaitPid(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return ExitCode(status);
    if (r < 0) return std::nullopt;
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(5ms);
  }
}

// Spawns `path args` with stdout and stderr on a pipe; returns the pid and the read end.
std::pair<pid_t, int> Spawn(const std::string& path, const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  std::vector<std::string> argv_storage{path};
  argv_storage.insert(argv_storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (rc != 0) {
    close(pipe_fds[0]);
    throw std::runtime_error("posix_spawn " + path);
  }
  return {pid, pipe_fds[0]};
}

// A sanitizer's report in what a server printed fails the running test: a server ends with
// _exit, so a report would not change its exit code.
void CheckForSanitizerReports(const std::string& output) {
  for (const char* mark : {"Sanitizer", "runtime error:"}) {
    const size_t at = output.find(mark);
    if (at != std::string::npos) {
      ADD_FAILURE() << "the server reported: " << output.substr(at > 200 ? at - 200 : 0, 2000);
      return;
    }
  }
}

}  // namespace

int BindDualStack(uint16_t port) {
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int off = 0;
  setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_any;
  a.sin6_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  close(fd);
  return -1;
}

uint16_t FreePort() {
  for (;;) {
    const int fd = BindDualStack(0);
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    // Port 0 picks a free IPv6 port; it must be free for IPv4 too, hence the second bind.
    const int again = BindDualStack(ntohs(a.sin6_port));
    if (again < 0) continue;
    close(again);
    return ntohs(a.sin6_port);
  }
}

TempDir::TempDir() {
  char name[] = "/tmp/mvs5-test-XXXXXX";
  if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

ServerProcess::ServerProcess(const std::string& ini_lines) : port_(FreePort()) {
  std::filesystem::copy_file(MVS5_SERVER_PATH, executable());
  std::filesystem::permissions(executable(), std::filesystem::perms::owner_all);
  WriteIni("[Main]\nNetworkTCPPort=" + std::to_string(port_) + "\n" + ini_lines + "\n");
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitPid(pid_, 10s);
  }
  if (reader_.joinable()) reader_.join();
  std::string output;
  for (const auto& line : lines_) output += line + "\n";
  CheckForSanitizerReports(output + partial_);
}

void ServerProcess::WriteIni(const std::string& text) { WriteFile(executable() + ".ini", text); }

void ServerProcess::Start(const std::vector<std::string>& args) {
  auto [pid, fd] = Spawn(executable(), args);
  pid_ = pid;
  reader_ = std::thread([this, fd] { ReadOutput(fd); });
}

bool ServerProcess::StartAndWaitReady() {
  Start();
  return WaitForLine("* Ready and waiting for connections").has_value();
}

RunResult ServerProcess::Run(const std::vector<std::string>& args,
                             std::chrono::milliseconds limit) {
  auto [pid, fd] = Spawn(executable(), args);
  std::string output;
  char buffer[4096];
  const auto end = std::chrono::steady_clock::now() + limit;
  fcntl(fd, F_SETFL, O_NONBLOCK);
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) break;
    if (std::chrono::steady_clock::now() >= end) break;
    std::this_thread::sleep_for(2ms);
  }
  close(fd);
  CheckForSanitizerReports(output);
  auto code = WaitPid(pid, std::max<std::chrono::milliseconds>(
                                std::chrono::duration_cast<std::chrono::milliseconds>(
                                    end - std::chrono::steady_clock::now()),
                                100ms));
  if (!code) {
    kill(pid, SIGKILL);
    WaitPid(pid, 5s);
    return {-1, output};
  }
  return {*code, output};
}

void ServerProcess::ReadOutput(int fd) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    std::lock_guard lock(mu_);
    partial_.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t nl; (nl = partial_.find('\n', start)) != std::string::npos; start = nl + 1) {
      lines_.push_back(partial_.substr(start, nl - start));
    }
    partial_.erase(0, start);
    cv_.notify_all();
  }
  close(fd);
  std::lock_guard lock(mu_);
  eof_ = true;
  cv_.notify_all();
}

std::optional<size_t> ServerProcess::WaitForLine(const std::string& needle,
                                                 std::chrono::milliseconds limit, size_t from) {
  std::unique_lock lock(mu_);
  std::optional<size_t> found;
  cv_.wait_for(lock, limit, [&] {
    for (size_t i = from; i < lines_.size(); ++i) {
      if (lines_[i].find(needle) != std::string::npos) {
        found = i;
        return true;
      }
    }
    return eof_;
  });
  return found;
}

std::vector<std::string> ServerProcess::Lines() const {
  std::lock_guard lock(mu_);
  return lines_;
}

size_t ServerProcess::CountLines(const std::string& needle) const {
  std::lock_guard lock(mu_);
  size_t n = 0;
  for (const auto& line : lines_) n += line.find(needle) != std::string::npos;
  return n;
}

int ServerProcess::Stop(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGINT);
  auto code = WaitExit(limit);
  return code ? *code : -1;
}

std::optional<int> ServerProcess::WaitExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  auto code = WaitPid(pid_, limit);
  if (code) {
    pid_ = -1;
    if (reader_.joinable()) reader_.join();
  }
  return code;
}

}  // namespace testing_support
