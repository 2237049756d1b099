#include "cli/ListDevices.h"

#include <ostream>
#include <string>
#include <vector>

#include "capture/PortAudioDevice.h"
#include "cli/ExitCodes.h"

int ListDevices(std::ostream& out, std::ostream& err) {
  std::string error;
  const std::vector<PortAudioInput> inputs = ListPortAudioInputs(error);
  if (!error.empty()) {
    err << "sonavel-train: " << error << '\n';
    return kExitBadInput;
  }
  if (inputs.empty()) {
    err << "sonavel-train: no sound input device\n";
  }
  for (const PortAudioInput& input : inputs) {
    out << (input.bDefault ? '*' : ' ') << ' ' << input.nIndex << ": " << input.name << " ("
        << input.hostApi << ", " << input.nMaxChannels << " channels, "
        << static_cast<long>(input.dDefaultRate) << " Hz)\n";
  }
  return 0;
}
