// Helpers for the options of the command-line programs: numbers of seconds, the note names
// file, output folders. Their messages are for the user, without the program's name.
#pragma once

namespace CLI {
class App;
}

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

inline constexpr double kMaxSeconds = 86400.0;  // longest time an option takes

// `text` with its ASCII letters in lower case (for options taken in either case).
std::string LowerCase(std::string text);

// `text` as a number of seconds: finite, not negative, at most a day; blanks after it are
// allowed.
bool ParseSeconds(const std::string& text, double& dSeconds);

// Fills g_szNoteName from `path`; without one from note_symbol.txt in the current folder when
// it exists, else with the standard names. False with a message when the file cannot be read.
bool LoadNoteNames(const std::optional<std::string>& path, std::string& error);

// Creates `folder` when it is missing and checks that files can be created in it. False with a
// message when they cannot.
bool PrepareOutputFolder(const std::filesystem::path& folder, std::string& error);

// Parses `argv` with `app`: --help and --version print on `out` (exit code 0), a parse error
// is reported on `err` as "PROGRAM: what" with a hint (exit code 1); nullopt when the
// program goes on.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, const char* const* argv,
                                    const std::string& program, const std::string& version,
                                    std::ostream& out, std::ostream& err);
