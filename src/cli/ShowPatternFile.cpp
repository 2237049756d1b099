#include "cli/ShowPatternFile.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <system_error>

#include "cli/ExitCodes.h"
#include "cli/OptionParsing.h"
#include "files/PatternFiles.h"
#include "training/NoteTables.h"

namespace fs = std::filesystem;

int ShowPatternFile(const std::string& pathText, const std::optional<std::string>& noteNames,
                    std::ostream& out, std::ostream& err) {
  std::string error;
  if (!LoadNoteNames(noteNames, error)) {
    err << "sonavel-train: " << error << '\n';
    return kExitBadInput;
  }
  const fs::path path(pathText);
  std::error_code ec;
  std::ifstream in(path, std::ios::binary);
  if (!in || fs::is_directory(path, ec)) {
    err << "sonavel-train: cannot read the pattern file " << path.string() << '\n';
    return kExitBadInput;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    err << "sonavel-train: cannot read the pattern file " << path.string() << '\n';
    return kExitBadInput;
  }
  constexpr std::size_t kRecordSize = sizeof(NotePattern);
  const std::size_t nWhole = bytes.size() / kRecordSize;
  const std::size_t nShown = std::min<std::size_t>(nWhole, kNoteCount);
  // The records go through the pattern store so that the listing is the one written at exit.
  for (std::size_t i = 0; i < nShown; ++i) {
    g_fPattern[i] = DecodePatternRecord(&bytes[i * kRecordSize]);
  }
  const std::string text = FormatPatternText();
  std::size_t nCut = 0;
  for (std::size_t nLines = 0; nLines < 3 * nShown; ++nLines) {
    nCut = text.find('\n', nCut) + 1;
  }
  out << text.substr(0, nCut) << std::flush;
  int nCode = 0;
  if (bytes.size() % kRecordSize != 0) {
    err << "sonavel-train: " << path.string() << " is " << bytes.size()
        << " bytes, not a multiple of " << kRecordSize << " (" << nWhole << " whole records and "
        << bytes.size() % kRecordSize << " bytes left over)\n";
    nCode = kExitBadInput;
  }
  if (nWhole > static_cast<std::size_t>(kNoteCount)) {
    err << "sonavel-train: " << path.string() << " holds " << nWhole << " records, more than the "
        << kNoteCount << " notes; only the first " << kNoteCount << " are shown\n";
    nCode = kExitBadInput;
  }
  return nCode;
}
