// The console counterpart of the service control handler.
#pragma once

// Runs on the console signal thread for Ctrl+C and the other console signals: sets the stop
// flag, waits at most 10 s for the run to finish (sessions closed, store saved), then ends the
// process with exit code 1. Does not return.
[[noreturn]] void ConsoleCtrlHandler(int signal);
