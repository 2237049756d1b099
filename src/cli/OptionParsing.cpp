#include "cli/OptionParsing.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <system_error>

#include "cli/ExitCodes.h"
#include "training/NoteTables.h"

namespace fs = std::filesystem;

std::string LowerCase(std::string text) {
  for (char& ch : text) {
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  return text;
}

bool ParseSeconds(const std::string& text, double& dSeconds) {
  if (text.empty()) {
    return false;
  }
  std::size_t nUsed = 0;
  try {
    dSeconds = std::stod(text, &nUsed);
  } catch (const std::exception&) {
    return false;
  }
  while (nUsed < text.size() && (text[nUsed] == ' ' || text[nUsed] == '\t')) {
    ++nUsed;
  }
  return nUsed == text.size() && std::isfinite(dSeconds) && dSeconds >= 0.0 &&
         dSeconds <= kMaxSeconds;
}

bool LoadNoteNames(const std::optional<std::string>& noteNames, std::string& error) {
  std::optional<fs::path> path;
  if (noteNames) {
    path = *noteNames;
  } else if (std::error_code ec; fs::exists("note_symbol.txt", ec)) {
    path = "note_symbol.txt";
  }
  if (!path) {
    for (int k = 0; k < kNoteCount; ++k) {
      CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
    }
    return true;
  }
  std::error_code ec;
  std::ifstream probe(*path, std::ios::binary);
  if (!probe || fs::is_directory(*path, ec)) {
    error = "cannot read the note names file " + path->string();
    return false;
  }
  probe.close();
  if (!LoadNoteNamesFrom(path->string())) {
    error = "cannot read the note names file " + path->string();
    return false;
  }
  return true;
}

bool PrepareOutputFolder(const fs::path& folder, std::string& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    error = "cannot create the output folder " + folder.string() + ": " + ec.message();
    return false;
  }
  if (!fs::is_directory(folder, ec)) {
    error = "the output folder " + folder.string() + " is not a folder";
    return false;
  }
  const fs::path probe = folder / (".sonavel-train-probe-" + std::to_string(::getpid()));
  std::FILE* pFile = std::fopen(probe.c_str(), "wbx");
  if (pFile == nullptr) {
    error = "cannot write into the output folder " + folder.string() + ": " +
            std::error_code(errno, std::generic_category()).message();
    return false;
  }
  std::fclose(pFile);
  fs::remove(probe, ec);
  return true;
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, const char* const* argv,
                                    const std::string& program, const std::string& version,
                                    std::ostream& out, std::ostream& err) {
  app.set_version_flag("--version", program + " " + version);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion&) {
    out << program << ' ' << version << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    err << program << ": " << e.what() << "\nRun with --help for more information.\n";
    return kExitBadInput;
  }
  return std::nullopt;
}
