// The packet format shared by every request and reply: the 24-byte PacketHeader, the status
// reply, and the protocol constants. The byte layouts are in docs/formats.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/bytes.h"

constexpr uint32_t kPacketMagic = 0x3553564D;  // the bytes "MVS5" read as a little-endian u32
constexpr uint32_t kPacketVersion = 256;
constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kMaxHeaderSize = 1024;
constexpr uint32_t kMaxDataSize = 8 * 1024 * 1024;
constexpr size_t kBufferSize = 2048;  // each session's send and receive header buffers

struct PacketHeader {
  uint32_t magic = kPacketMagic;
  uint32_t version = kPacketVersion;
  uint32_t header_size = kHeaderSize;
  uint32_t data_size = 0;
  uint32_t reserved = 0;
  uint32_t command = 0;

  // REQUIRES: at least 24 bytes.
  static PacketHeader Read(const std::byte* bytes);
  // Writes the header of a reply the server sends (magic, version 256, reserved 0).
  static void Write(platform::WriteCursor& out, uint32_t header_size, uint32_t data_size,
                    uint32_t command);
};

// Protocol states of a session.
constexpr uint32_t StateNew = 0;
constexpr uint32_t StateAwaitingLogin = 1;
constexpr uint32_t StateClosing = 2;
constexpr uint32_t StateLoggedIn = 3;

// Status codes of a StatusReply.
constexpr uint32_t StatusSuccess = 0;
constexpr uint32_t StatusMalformed = 1;
constexpr uint32_t StatusNotLoggedIn = 2;
constexpr uint32_t StatusBadLoginType = 3;
constexpr uint32_t StatusBadLogin = 4;
constexpr uint32_t StatusInvalidCommand = 6;
constexpr uint32_t StatusNotFound = 7;
constexpr uint32_t StatusNoRights = 8;
constexpr uint32_t StatusConflict = 9;
constexpr uint32_t StatusLocked = 10;
constexpr uint32_t StatusNoChange = 14;
constexpr uint32_t StatusAdminRequired = 16;
constexpr uint32_t StatusCannotRestart = 17;
constexpr uint32_t StatusClientTooOld = 19;

// Command codes.
constexpr uint32_t CommandStatus = 0;
constexpr uint32_t CommandEcho = 1;
constexpr uint32_t CommandWelcome = 2;
constexpr uint32_t CommandLogin = 3;
constexpr uint32_t CommandLoginReply = 4;
constexpr uint32_t CommandListGroups = 5;
constexpr uint32_t CommandGroupList = 6;
constexpr uint32_t CommandFetchGroup = 7;
constexpr uint32_t CommandGroup = 8;
constexpr uint32_t CommandReadGroupAccess = 109;
constexpr uint32_t CommandGroupAccess = 110;
