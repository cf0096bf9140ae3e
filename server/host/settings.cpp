#include "host/settings.h"

#include <cstdarg>

#include "host/log.h"
#include "platform/ini.h"
#include "platform/module.h"
#include "platform/text.h"
#include "platform/version.h"

namespace {

constexpr int64_t kTimeoutUnitsPerSecond = 10000000;
constexpr size_t kMaxPathUnits = 259;

}  // namespace

CMVS5Settings::CMVS5Settings() {
  const std::string executable = platform::ModuleFileName();
  if (!QueryServerVersion(executable)) {
    WriteLog("! CMVS5Settings, Cannot get server file version (%s)!", executable.c_str());
  }
  data_file_path = executable + ".dat";
  ini_file_path = executable + ".ini";
}

CMVS5Settings::~CMVS5Settings() = default;

bool CMVS5Settings::QueryServerVersion(const std::string& path) {
  const auto version = platform::ReadProductVersion(path);
  if (!version) return false;
  version_major = version->ms >> 16;
  version_minor = version->ms & 0xFFFF;
  version_build = version->ls;
  return true;
}

bool CMVS5Settings::ReadSettings() {
  tcp_port = static_cast<int32_t>(platform::IniReadInt(
      ini_file_path, "Main", "NetworkTCPPort", static_cast<uint32_t>(tcp_port)));
  const uint32_t seconds =
      platform::IniReadInt(ini_file_path, "Main", "NetworkTimeout",
                           static_cast<uint32_t>(network_timeout / -kTimeoutUnitsPerSecond));
  network_timeout = -(static_cast<int64_t>(seconds) * kTimeoutUnitsPerSecond);
  data_file_path = platform::ToUtf8(platform::IniReadString(
      ini_file_path, "Main", "DataFile", platform::ToUtf16(data_file_path), kMaxPathUnits));
  return data.Load(data_file_path);
}

void CMVS5Settings::WriteLog(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  const std::string message = FormatLogText(format, args);
  va_end(args);
  WriteLogLine(message);
}
