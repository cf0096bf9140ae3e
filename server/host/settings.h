// CMVS5Settings: the server's configuration (paths derived from the executable, the INI file,
// the version stored in the executable), the owner of the macro store, and the server log.
#pragma once

#include <cstdint>
#include <string>

#include "store/data.h"

class CMVS5Settings {
 public:
  // Defaults, the empty store, the version from the executable file (logging
  // "! CMVS5Settings, Cannot get server file version (%s)!" when it has none), then the data
  // file path and the INI file path: the executable path plus ".dat" and ".ini".
  CMVS5Settings();
  ~CMVS5Settings();
  CMVS5Settings(const CMVS5Settings&) = delete;
  CMVS5Settings& operator=(const CMVS5Settings&) = delete;

  // Fills the version numbers from the product version of the file at `path`; false when it
  // has none (the numbers stay 0).
  bool QueryServerVersion(const std::string& path);

  // Reads NetworkTCPPort, NetworkTimeout and DataFile of section Main, in that order, then loads
  // the store from the data file path. Returns the result of the load.
  // REQUIRES: no other thread exists yet (the fields are read without a lock afterwards).
  bool ReadSettings();

  // One time-stamped log line; printf conventions, UTF-8.
  void WriteLog(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  uint32_t version_major = 0;
  uint32_t version_minor = 0;
  uint32_t version_build = 0;
  std::string data_file_path;
  std::string ini_file_path;
  int32_t tcp_port = 25552;
  int64_t network_timeout = -900000000;  // 100-ns units, negative: relative
  CMVS5Data data;
};
