#include "launcher_state.h"

int launchCount = 0;
int progargc = 0;
char** progargv = nullptr;
bool isVerbose = false;
