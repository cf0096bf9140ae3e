#include "host/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatLogText(format, args);
  va_end(args);
  return text;
}

TEST(LogText, FormatsAndCutsLongMessages) {
  EXPECT_EQ(Format("* %s logged in%s", "Admin", " (admin)"), "* Admin logged in (admin)");
  EXPECT_EQ(Format("0x%08X %i", 0xABCu, -3), "0x00000ABC -3");
  const std::string big(5000, 'x');
  EXPECT_EQ(Format("%s", big.c_str()), std::string(1023, 'x'));
  // Counted in UTF-16 units: a character outside the BMP takes two and is never split.
  const std::string wide = platform::ToUtf8(std::u16string(1022, u'a') + u"\U0001F600");
  EXPECT_EQ(Format("%s", wide.c_str()), std::string(1022, 'a'));
}

// Captures what WriteLogLine sends to standard output while it runs.
class StdoutCapture {
 public:
  StdoutCapture() {
    EXPECT_EQ(pipe(fds_), 0);
    saved_ = dup(STDOUT_FILENO);
    dup2(fds_[1], STDOUT_FILENO);
    reader_ = std::thread([this] {
      char buffer[65536];
      ssize_t n;
      while ((n = read(fds_[0], buffer, sizeof buffer)) > 0) text_.append(buffer, n);
    });
  }
  std::string Finish() {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    close(fds_[1]);
    reader_.join();
    close(fds_[0]);
    return text_;
  }

 private:
  int fds_[2];
  int saved_;
  std::thread reader_;
  std::string text_;
};

TEST(LogLine, LinesFromManyThreadsStayWhole) {
  StdoutCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 300; ++i) {
        // Lengths up to past the cut, so that some lines are long.
        WriteLogLine("* thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                     std::string(static_cast<size_t>(i * 4), static_cast<char>('a' + t)));
      }
    });
  }
  for (auto& t : threads) t.join();
  std::istringstream lines(capture.Finish());
  const std::regex shape(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \* thread (\d) line (\d+) ([a-h]*))");
  std::set<std::pair<int, int>> seen;
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line.substr(0, 80);
    const int t = std::stoi(m[1]), i = std::stoi(m[2]);
    const std::string fill = m[3];
    EXPECT_LE(line.size() + 1, 1023u);
    EXPECT_TRUE(fill.find_first_not_of(static_cast<char>('a' + t)) == std::string::npos);
    seen.emplace(t, i);
  }
  EXPECT_EQ(seen.size(), 8u * 300);
}

TEST(LogLine, LogFileGetsUtf16) {
  char name[] = "/tmp/mvs5-log-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  SetLogFile(fd);
  WriteLogLine("* caf\xC3\xA9");
  SetLogFile(-1);
  std::string bytes(4096, '\0');
  bytes.resize(static_cast<size_t>(pread(fd, bytes.data(), bytes.size(), 0)));
  close(fd);
  unlink(name);
  ASSERT_EQ(bytes.size(), 2u * (24 + 6 + 1));
  std::u16string text;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                  static_cast<uint8_t>(bytes[i + 1]) << 8);
  }
  EXPECT_EQ(text.substr(24), u"* caf\u00E9\n");
}

}  // namespace
