// The DispatchTable: the commands a logged-in session may send, searched front to back for the
// first row with the request's command code. Echo (1) is answered before the table is searched;
// login (3) is not in it, so a second login gets "Invalid or unsupported command".
#pragma once

#include <cstdint>
#include <span>

#include "net/client_session.h"

struct DispatchRow {
  uint32_t command;
  void (CMVS5ClientSession::*handler)(const PacketHeader& request);
  uint8_t admin_only;
};

std::span<const DispatchRow> DispatchTable();
