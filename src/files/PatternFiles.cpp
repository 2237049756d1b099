#include "files/PatternFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>

#include "analysis/Fft.h"
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

// Closes the descriptor it holds when it goes out of scope.
class CFileHandle {
 public:
  explicit CFileHandle(int fd = -1) : m_fd(fd) {}
  CFileHandle(const CFileHandle&) = delete;
  CFileHandle& operator=(const CFileHandle&) = delete;
  ~CFileHandle() {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
  }
  int Get() const { return m_fd; }
  // Closes now; false with errno set when closing reported an error (a delayed write error).
  bool Close() {
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int m_fd;
};

// Writes all of `bytes` at the descriptor's position; false with errno set on failure.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t nWritten = ::write(fd, bytes.data(), bytes.size());
    if (nWritten < 0 && errno == EINTR) {
      continue;
    }
    if (nWritten <= 0) {
      errno = nWritten == 0 ? EIO : errno;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(nWritten));
  }
  return true;
}

// Gives the new file the owner, group and permission bits of the one it replaces, as far as
// this process may: an owner (or group) it may not give away stays its own. The permission
// bits are set last, because a change of owner clears the set-user-id and set-group-id bits.
void KeepOwnerAndMode(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0);
  }
  static_cast<void>(::fchmod(fd, old.st_mode & 07777) == 0);
}

// Writes `bytes` from the start of the regular file `file` (freshly opened), cuts the file to
// their length, takes over owner and mode from *pKeep (when given), flushes it to the disk
// and closes it. Empty on success, else the reason. The old content is overwritten rather
// than truncated first, so a file of the same size needs no new space on the disk.
std::string WriteSyncClose(CFileHandle& file, std::string_view bytes, const struct stat* pKeep) {
  bool bOk =
      WriteAll(file.Get(), bytes) && ::ftruncate(file.Get(), static_cast<off_t>(bytes.size())) == 0;
  if (bOk && pKeep != nullptr) {
    KeepOwnerAndMode(file.Get(), *pKeep);
  }
  bOk = bOk && ::fsync(file.Get()) == 0;
  const int nErr = errno;
  if (!file.Close() && bOk) {
    return ErrnoText(errno);
  }
  return bOk ? std::string() : ErrnoText(nErr);
}

// Flushes the folder entry of a file just renamed into place; a folder that cannot be opened
// or flushed changes nothing, the file holds its content all the same.
void SyncFolderOf(const fs::path& file) {
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const CFileHandle handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle.Get() >= 0) {
    static_cast<void>(::fsync(handle.Get()) == 0);
  }
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
    CFileHandle device(::open(finalTarget.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (device.Get() < 0) {
      return fail(ErrnoText(errno), true);
    }
    if (!WriteAll(device.Get(), bytes) || !device.Close()) {
      return fail(ErrnoText(errno));
    }
    result.bOk = true;
    return result;
  }

  // An existing file is replaced only when this process could also write into it: one that
  // cannot be opened for writing stays as it is, with the reason opening it gives. (For root
  // that is only a file on a read-only disk or an immutable one; permission bits do not
  // stop root, here as in any in-place write.) It is opened without truncating, so it is
  // unchanged until it is written in place below.
  const bool bExists = fs::exists(status);
  CFileHandle existing(bExists ? ::open(finalTarget.c_str(), O_WRONLY | O_CLOEXEC) : -1);
  struct stat old {};
  if (bExists && (existing.Get() < 0 || ::fstat(existing.Get(), &old) != 0)) {
    return fail(ErrnoText(errno), true);
  }
  const auto writeInPlace = [&] {
    std::string reason = WriteSyncClose(existing, bytes, nullptr);
    if (!reason.empty()) {
      return fail(reason);
    }
    result.bOk = true;
    return result;
  };
  // A rename would leave the file's other names with the old content: every name of a file
  // with several links is to see the new one.
  if (bExists && old.st_nlink > 1) {
    return writeInPlace();
  }

  // Owner-only until the old file's mode is taken over; a new file gets the usual mode.
  const fs::path temp = TemporaryNameFor(finalTarget);
  CFileHandle tempFile(
      ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, bExists ? 0600 : 0666));
  if (tempFile.Get() < 0) {
    const int nErr = errno;
    // A folder that takes no new file, around a file that can be written.
    return bExists ? writeInPlace() : fail(ErrnoText(nErr), true);
  }
  const std::string reason = WriteSyncClose(tempFile, bytes, bExists ? &old : nullptr);
  if (!reason.empty()) {
    fs::remove(temp, ec);
    return fail(reason);
  }
  if (std::rename(temp.c_str(), finalTarget.c_str()) != 0) {
    const int nErr = errno;
    fs::remove(temp, ec);
    // Refused for the folder's sake (a sticky folder and another user's file, say): the file
    // itself can still be written.
    return bExists ? writeInPlace() : fail(ErrnoText(nErr));
  }
  SyncFolderOf(finalTarget);
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

NotePattern DecodePatternRecord(const char* pRecord) {
  float fValues[2 * kPeakCount];
  for (std::size_t k = 0; k < std::size(fValues); ++k) {
    std::uint32_t nBits = 0;
    for (std::size_t b = 0; b < 4; ++b) {
      nBits |= static_cast<std::uint32_t>(static_cast<unsigned char>(pRecord[k * 4 + b]))
               << (8 * b);
    }
    fValues[k] = std::bit_cast<float>(nBits);
  }
  NotePattern pattern{};
  std::copy_n(fValues, kPeakCount, pattern.fBin);
  std::copy_n(fValues + kPeakCount, kPeakCount, pattern.fWeight);
  return pattern;
}

bool ReadPatternFile(const fs::path& path, std::vector<NotePattern>& patterns, std::string& error) {
  constexpr std::size_t kRecordSize = sizeof(NotePattern);
  constexpr std::size_t kMaxBytes = kRecordSize * kNoteCount;
  const std::string name = "the pattern file " + path.string();
  std::error_code ec;
  std::ifstream in(path, std::ios::binary);
  if (!in || fs::is_directory(path, ec)) {
    error = "cannot read " + name;
    return false;
  }
  // One byte more than the largest file tells a file that is too long, even an endless one.
  std::string bytes(kMaxBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    error = "cannot read " + name;
    return false;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kMaxBytes) {
    error = name + " holds more than " + std::to_string(kNoteCount) +
            " records of 48 bytes: not a pattern file";
    return false;
  }
  if (bytes.empty() || bytes.size() % kRecordSize != 0) {
    error = name + " is " + std::to_string(bytes.size()) +
            " bytes, not a whole number of 48-byte records: not a pattern file";
    return false;
  }
  patterns.assign(bytes.size() / kRecordSize, NotePattern{});
  // A bin counts from 1 for the FFT's first element; the spectrum has kFftLen / 2 + 1.
  constexpr float kMaxBin = static_cast<float>(kFftLen) / 2.0f + 1.0f;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    const NotePattern p = DecodePatternRecord(&bytes[i * kRecordSize]);
    for (int k = 0; k < 2 * kPeakCount; ++k) {
      const bool bBin = k < kPeakCount;
      const float fValue = bBin ? p.fBin[k] : p.fWeight[k - kPeakCount];
      if (!std::isfinite(fValue) || fValue < 0.0f || fValue > (bBin ? kMaxBin : 10.0f)) {
        error = name + ": record " + std::to_string(i) + " holds " + std::to_string(fValue) +
                (bBin ? " as a bin" : " as a weight") + ": not a pattern file";
        return false;
      }
    }
    patterns[i] = p;
  }
  return true;
}
