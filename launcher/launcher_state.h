// Process-wide state of the launcher. The first entry to main writes it before the runtime
// starts; a re-entry from the runtime only reads it. No locks: never two writers.
#pragma once

extern int launchCount;   // JLI_Launch calls begun
extern int progargc;      // the program's own arguments (argv without argv[0]) of the first entry
extern char** progargv;
extern bool isVerbose;    // "--verbose" was among the program arguments
