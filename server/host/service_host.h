// The service host: runs the server when the service manager started the process.
#pragma once

// Hands the process to the service manager's dispatcher. Returns true after the service has run
// and stopped; false at once when the process was not started by the service manager.
bool StartServiceCtrlDispatcher();
