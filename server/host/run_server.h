// RunServer: the one path by which a server comes to life, in the console and as a service.
#pragma once

// Builds the settings and the store, makes sure a group and an administrator exist, and either
// restores the administrator account (-addDefaultUser) or runs the server until it is told to
// stop; saves the store and signals the run-finished event. Returns 0 after a normal stop or the
// account reset, 1 when the server could not start, 2 or 3 when the listening socket could not be
// created or bound.
int RunServer();
