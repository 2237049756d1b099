// The pattern files: default_pattern.txt (text listing of all 108 patterns),
// default_pattern.dat (all 108 records) and the user pattern file (records 0 ... g_nCurNote
// - 1). A binary record is 12 little-endian IEEE 754 floats, 48 bytes, record i at offset
// 48 * i. Text lines end in CR LF on every platform.
//
// Every file is written to a temporary name in its folder and renamed over the target only
// when it is complete, so a failed or interrupted write never leaves a truncated file where
// a good one stood. Runs on the user-interface thread.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

inline constexpr const char* kPatternTextName = "default_pattern.txt";
inline constexpr const char* kPatternDataName = "default_pattern.dat";

// File contents as they are written.
std::string FormatPatternText();
std::string FormatPatternData(int nRecords);

// Writes `bytes` as the whole content of `target`, replacing it only once everything was
// written and closed. A target that exists and is not a regular file (a device such as
// /dev/full) is written in place. On failure returns false and describes the problem in
// *pError (when given); an existing target is then left as it was.
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
