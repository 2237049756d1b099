// sonavel-train --list-devices: PortAudio's sound input devices, one a line, the default one
// marked with '*'.
#pragma once

#include <iosfwd>

// Prints the list on `out`, problems on `err`. Returns the exit code: 0, or 1 when PortAudio
// cannot list the devices.
int ListDevices(std::ostream& out, std::ostream& err);
