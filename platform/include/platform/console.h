// Console control events: the signals that ask a console program to stop (SIGINT, SIGTERM, SIGHUP
// and SIGQUIT), taken on a thread of their own.
#pragma once

namespace platform {

// Call first thing in main, before any other thread exists (threads started earlier keep the
// signals unblocked and may take them instead). Blocks the console signals in the calling thread,
// and so in every thread it starts later, and starts the signal thread that takes them. Until a
// handler is set, a console signal gets its default action: the process ends by that signal.
// A console signal the process was started with ignored (for example SIGHUP under nohup) stays
// ignored and is never taken. Only signals sent to the process count (kill, the terminal); one
// sent to a single thread (raise, pthread_kill) stays pending in that thread. Later calls do
// nothing. Throws std::system_error when the signal thread cannot be started.
void StartConsoleSignals();

using ConsoleHandler = void (*)(int signal);

// From now on a console signal runs `handler(signal)` on the signal thread, one signal at a time:
// the handler may block (and may end the process with _exit); signals that arrive meanwhile wait
// until it returns. A null handler restores the default action. Any thread may call this, at any
// time after StartConsoleSignals.
void SetConsoleCtrlHandler(ConsoleHandler handler);

}  // namespace platform
