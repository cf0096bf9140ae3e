// How a session's work fails: a message text (logged as it stands, beginning with "! ") or a
// system failure (logged as "! exception %i" with its error number). Either ends the session.
#pragma once

#include <string>

struct MessageText {
  std::string text;
};

struct SystemFailure {
  int code;
};
