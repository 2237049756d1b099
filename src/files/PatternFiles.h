// The pattern files: default_pattern.txt (text listing of all 108 patterns),
// default_pattern.dat (all 108 records) and the user pattern file (records 0 ... g_nCurNote
// - 1). A binary record is 12 little-endian IEEE 754 floats, 48 bytes, record i at offset
// 48 * i. Text lines end in CR LF on every platform.
//
// Every file is written to a temporary name in its folder, flushed to the disk and renamed
// over the target only when it is complete, so a failed or interrupted write never leaves a
// truncated file where a good one stood. Runs on the user-interface thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "training/NoteTables.h"

inline constexpr const char* kPatternTextName = "default_pattern.txt";
inline constexpr const char* kPatternDataName = "default_pattern.dat";

// File contents as they are written.
std::string FormatPatternText();
std::string FormatPatternData(int nRecords);

// Writes `bytes` as the whole content of `target` (the file a link points to, for a link),
// replacing it only once everything was written and flushed to the disk. An existing target
// that this process cannot open for writing is left alone and the call fails as opening it
// would (so root, whom permission bits do not stop, rewrites a read-only file). The new file
// keeps the old one's permission bits, and its owner and group where the process may set
// them. An existing target is written in place, without the atomic replacement, when it is
// not a regular file (a device such as /dev/full), when it has more than one link (so every
// name sees the new content), and when the folder takes no new file or refuses the rename
// (a folder without write permission, a sticky folder). On failure returns false and
// describes the problem in *pError (when given); an existing target is then left as it was,
// except after a failed write in place.
bool WriteFileReplacing(const std::filesystem::path& target, std::string_view bytes,
                        std::string* pError = nullptr);

// default_pattern.txt / default_pattern.dat in `folder` (the current directory when empty).
// When the file cannot be created, prints "The file  was not opened\n" on standard output;
// any failure is also described on standard error, naming the file and the reason.
// Returns whether the file was written completely.
bool WritePatternText(const std::filesystem::path& folder = {});
bool WritePatternData(const std::filesystem::path& folder = {});

// The file a save under `chosenPath` writes: the name's extension (from its last '.', when
// that is not the first character) replaced by ".dat", or ".dat" appended when it has
// none; in the chosen folder. Empty when `chosenPath` names no file.
std::filesystem::path UserPatternFilePath(const std::string& chosenPath);

// File > Save: writes records 0 ... g_nCurNote - 1 to UserPatternFilePath(chosenPath).
// Sets g_bUserSaved to 1 only when the file was written completely. On failure returns
// false, says why on standard error and in *pError (when given).
bool SaveUserPatternFile(const std::string& chosenPath, std::string* pError = nullptr);

// The pattern of one 48-byte record as the binary files hold it (`pRecord` has 48 bytes).
NotePattern DecodePatternRecord(const char* pRecord);

// Reads a pattern file written by Sonavel (default_pattern.dat or a saved user file) into
// `patterns`, record k for note k, without touching the training run's tables. A file that
// cannot be read, is empty, is not a whole number of records, holds more than 108 records
// (only that much is ever read), or holds a record that no training writes (a value that is
// not a number, a bin outside the spectrum, a weight outside 0 ... 10) is refused: false, and
// `error` names the file and the reason.
bool ReadPatternFile(const std::filesystem::path& path, std::vector<NotePattern>& patterns,
                     std::string& error);
