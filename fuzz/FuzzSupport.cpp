#include "FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace fuzz {

namespace {

// Removes the scratch paths at exit.
class CScratchPaths {
 public:
  ~CScratchPaths() {
    std::error_code ec;
    for (const auto& path : m_paths) {
      std::filesystem::remove_all(path, ec);
    }
  }
  void Add(const std::filesystem::path& path) {
    const std::lock_guard lock(m_mutex);
    for (const auto& known : m_paths) {
      if (known == path) {
        return;
      }
    }
    m_paths.push_back(path);
  }

 private:
  std::mutex m_mutex;
  std::vector<std::filesystem::path> m_paths;
};

CScratchPaths& Scratch() {
  static CScratchPaths paths;
  return paths;
}

}  // namespace

void Fail(const char* pszWhat, const char* pszFile, int nLine) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", pszFile, nLine, pszWhat);
  std::fflush(stderr);
  std::abort();
}

std::string CByteReader::Text(std::size_t nCount) {
  const std::size_t nTake = std::min(nCount, Left());
  std::string text(reinterpret_cast<const char*>(m_pData + m_nPos), nTake);
  m_nPos += nTake;
  return text;
}

std::string CByteReader::TextUntil(std::uint8_t chEnd) {
  std::string text;
  while (!Empty()) {
    const std::uint8_t ch = m_pData[m_nPos++];
    if (ch == chEnd) {
      break;
    }
    text += static_cast<char>(ch);
  }
  return text;
}

std::filesystem::path ScratchPath(const std::string& tag) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  if (ec) {
    folder = "/tmp";
  }
  auto path = folder / ("sonavel-fuzz-" + std::to_string(::getpid()) + "-" + tag);
  Scratch().Add(path);
  return path;
}

void WriteWholeFile(const std::filesystem::path& path, const std::uint8_t* pData,
                    std::size_t nSize) {
  std::FILE* pFile = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(pFile != nullptr);
  const bool bWritten = nSize == 0 || std::fwrite(pData, 1, nSize, pFile) == nSize;
  const bool bClosed = std::fclose(pFile) == 0;
  FUZZ_CHECK(bWritten && bClosed);
}

void Append(Bytes& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

void AppendLe(Bytes& bytes, std::uint64_t nValue, int nBytes) {
  for (int k = 0; k < nBytes; ++k) {
    bytes.push_back(static_cast<std::uint8_t>(nValue >> (8 * k)));
  }
}

void AppendBe(Bytes& bytes, std::uint64_t nValue, int nBytes) {
  for (int k = nBytes - 1; k >= 0; --k) {
    bytes.push_back(static_cast<std::uint8_t>(nValue >> (8 * k)));
  }
}

}  // namespace fuzz
