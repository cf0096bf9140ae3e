// The command-line service commands. Each prints its own lines to standard output; the entry
// point ignores their results.
#pragma once

bool ServiceInstall();
bool ServiceRemove();
bool ServiceStart();
bool ServiceStop();
