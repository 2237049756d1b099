#include "files/PatternFiles.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>

#include "training/NoteTables.h"

namespace fs = std::filesystem;

namespace {

int TruncToInt(float fValue) {
  const double dValue = static_cast<double>(fValue);
  if (dValue != dValue) {
    return 0;
  }
  if (dValue <= -2147483648.0) {
    return -2147483647 - 1;
  }
  if (dValue >= 2147483647.0) {
    return 2147483647;
  }
  return static_cast<int>(dValue);
}

void AppendFloatLe(std::string& out, float fValue) {
  const auto nBits = std::bit_cast<std::uint32_t>(fValue);
  for (int nShift = 0; nShift < 32; nShift += 8) {
    out += static_cast<char>((nBits >> nShift) & 0xFFU);
  }
}

std::string ErrnoText(int nErr) { return std::error_code(nErr, std::generic_category()).message(); }

// A name in the target's folder that no other writer uses at the same time: fresh random
// bits for every file (so a forked child, which inherits everything else, still picks its
// own) and a process-wide counter. It does not grow with the target's name, so a target whose
// name is near the file system's limit still gets a temporary name that can be created.
fs::path TemporaryNameFor(const fs::path& target) {
  static std::atomic<unsigned> s_nCounter{0};
  std::random_device device;
  const std::uint64_t nTag =
      (static_cast<std::uint64_t>(device()) << 32U) ^ static_cast<std::uint64_t>(device()) ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  char szSuffix[48];
  std::snprintf(szSuffix, sizeof szSuffix, ".~%016llx-%u.tmp",
                static_cast<unsigned long long>(nTag), s_nCounter.fetch_add(1));
  return target.parent_path() / szSuffix;
}

// Writes and closes; both results are checked.
bool WriteAndClose(std::FILE* pFile, std::string_view bytes, std::string& error) {
  errno = 0;
  const std::size_t nWritten = std::fwrite(bytes.data(), 1, bytes.size(), pFile);
  int nErr = errno;
  bool bOk = nWritten == bytes.size();
  if (std::fflush(pFile) != 0 && bOk) {
    bOk = false;
    nErr = errno;
  }
  if (std::fclose(pFile) != 0 && bOk) {
    bOk = false;
    nErr = errno;
  }
  if (!bOk) {
    error = nErr != 0 ? ErrnoText(nErr) : "write failed";
  }
  return bOk;
}

}  // namespace

std::string FormatPatternText() {
  std::string out;
  out.reserve(7000);
  char szField[32];
  for (int i = 0; i < kNoteCount; ++i) {
    out += ' ';
    out += g_szNoteName[i];
    out += ":\r\n";
    for (const float* pfHalf : {g_fPattern[i].fBin, g_fPattern[i].fWeight}) {
      for (int n = 0; n < kPeakCount; ++n) {
        std::snprintf(szField, sizeof szField, " %3d", TruncToInt(pfHalf[n]));
        out += szField;
      }
      out += "\r\n";
    }
  }
  return out;
}

std::string FormatPatternData(int nRecords) {
  std::string out;
  if (nRecords <= 0) {
    return out;
  }
  nRecords = nRecords > kNoteCount ? kNoteCount : nRecords;
  out.reserve(static_cast<std::size_t>(nRecords) * sizeof(NotePattern));
  for (int i = 0; i < nRecords; ++i) {
    for (const float fValue : g_fPattern[i].fBin) {
      AppendFloatLe(out, fValue);
    }
    for (const float fValue : g_fPattern[i].fWeight) {
      AppendFloatLe(out, fValue);
    }
  }
  return out;
}

namespace {

struct FileWriteResult {
  bool bOk = false;
  bool bOpenFailed = false;  // the file could not even be created
  std::string error;
};

FileWriteResult WriteReplacing(const fs::path& target, std::string_view bytes) {
  FileWriteResult result;
  const auto fail = [&](const std::string& reason, bool bOpenFailed = false) {
    result.error = "Could not write " + target.string() + ": " + reason;
    result.bOpenFailed = bOpenFailed;
    return result;
  };

  std::error_code ec;
  fs::path finalTarget = target;
  if (fs::is_symlink(target, ec)) {
    // Replace the file the link points to, not the link.
    finalTarget = fs::weakly_canonical(target, ec);
    if (ec) {
      return fail(ec.message(), true);
    }
  }
  const fs::file_status status = fs::status(finalTarget, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    if (fs::is_directory(status)) {
      return fail("it is a folder", true);
    }
    // A device or pipe: nothing to replace, write into it.
    std::FILE* pFile = std::fopen(finalTarget.c_str(), "wb");
    if (pFile == nullptr) {
      return fail(ErrnoText(errno), true);
    }
    std::string reason;
    if (!WriteAndClose(pFile, bytes, reason)) {
      return fail(reason);
    }
    result.bOk = true;
    return result;
  }

  const fs::path temp = TemporaryNameFor(finalTarget);
  std::FILE* pFile = std::fopen(temp.c_str(), "wbx");
  if (pFile == nullptr) {
    return fail(ErrnoText(errno), true);
  }
  std::string reason;
  if (!WriteAndClose(pFile, bytes, reason)) {
    fs::remove(temp, ec);
    return fail(reason);
  }
  if (std::rename(temp.c_str(), finalTarget.c_str()) != 0) {
    const int nErr = errno;
    fs::remove(temp, ec);
    return fail(ErrnoText(nErr));
  }
  result.bOk = true;
  return result;
}

// Writes one of the files written at exit, with the messages that go with it.
bool WriteExitFile(const fs::path& folder, const char* pszName, std::string_view bytes) {
  const fs::path target = folder.empty() ? fs::path(pszName) : folder / pszName;
  const FileWriteResult result = WriteReplacing(target, bytes);
  if (result.bOk) {
    return true;
  }
  if (result.bOpenFailed) {
    std::printf("The file  was not opened\n");
    std::fflush(stdout);
  }
  std::fprintf(stderr, "%s\n", result.error.c_str());
  return false;
}

}  // namespace

bool WriteFileReplacing(const fs::path& target, std::string_view bytes, std::string* pError) {
  const FileWriteResult result = WriteReplacing(target, bytes);
  if (!result.bOk && pError != nullptr) {
    *pError = result.error;
  }
  return result.bOk;
}

bool WritePatternText(const fs::path& folder) {
  return WriteExitFile(folder, kPatternTextName, FormatPatternText());
}

bool WritePatternData(const fs::path& folder) {
  return WriteExitFile(folder, kPatternDataName, FormatPatternData(kNoteCount));
}

fs::path UserPatternFilePath(const std::string& chosenPath) {
  if (chosenPath.empty()) {
    return {};
  }
  const fs::path chosen(chosenPath);
  std::string name = chosen.filename().string();
  if (name.empty() || name == "." || name == "..") {
    return {};
  }
  const std::size_t nDot = name.rfind('.');
  if (nDot != std::string::npos && nDot != 0) {
    name.erase(nDot);
  }
  name += ".dat";
  return chosen.parent_path() / name;
}

bool SaveUserPatternFile(const std::string& chosenPath, std::string* pError) {
  const fs::path target = UserPatternFilePath(chosenPath);
  std::string error;
  if (target.empty()) {
    error = "Could not save the pattern file: no file name was given";
  } else if (WriteFileReplacing(target, FormatPatternData(g_nCurNote), &error)) {
    g_bUserSaved = 1;
    return true;
  }
  std::fprintf(stderr, "%s\n", error.c_str());
  if (pError != nullptr) {
    *pError = error;
  }
  return false;
}
