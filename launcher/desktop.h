// What the launcher asks of the desktop: an error dialog, and a restart with administrator
// rights.
#pragma once

#include <string>

namespace kestrane::launcher {

// Shows reason in a modal error dialog and waits until the user closes it: zenity or kdialog
// in a graphical session (DISPLAY or WAYLAND_DISPLAY set); otherwise, or when no dialog can
// be shown, the reason goes to standard error.
void showCriticalAlert(const std::string& reason);

// Starts this executable again as root through pkexec, in the background, with its output
// discarded and without arguments. True when pkexec reported success; false when it is
// missing, failed, or the user dismissed the authentication.
bool relaunchWithAdministratorRights();

}  // namespace kestrane::launcher
