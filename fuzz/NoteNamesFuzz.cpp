// The note names loader on any bytes as note_symbol.txt: every slot must come out
// zero-terminated within its 20 bytes, without a line feed, and equal to what the file's
// lines say (first 19 bytes of the line, a CR right before the LF dropped; the standard name
// for every slot the file does not reach).
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "training/NoteTables.h"

namespace {

// The name the file gives slot `nSlot`, or false when the file has no such line.
bool ExpectedName(const std::uint8_t* pData, std::size_t nSize, int nSlot, std::string& name) {
  std::size_t nStart = 0;
  for (int k = 0; k < nSlot; ++k) {
    const void* pLf = std::memchr(pData + nStart, '\n', nSize - nStart);
    if (pLf == nullptr) {
      return false;
    }
    nStart = static_cast<std::size_t>(static_cast<const std::uint8_t*>(pLf) - pData) + 1;
  }
  if (nStart >= nSize) {
    return false;  // nothing after the last line feed: no line
  }
  const void* pLf = std::memchr(pData + nStart, '\n', nSize - nStart);
  std::size_t nEnd = pLf == nullptr
                         ? nSize
                         : static_cast<std::size_t>(static_cast<const std::uint8_t*>(pLf) - pData);
  if (pLf != nullptr && nEnd > nStart && pData[nEnd - 1] == '\r') {
    --nEnd;  // CR LF
  }
  name.assign(reinterpret_cast<const char*>(pData + nStart), nEnd - nStart);
  if (name.size() > kNoteNameSize - 1) {
    name.resize(kNoteNameSize - 1);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  static const auto path = fuzz::ScratchPath("note_symbol.txt");
  fuzz::WriteWholeFile(path, pData, nSize);

  // Garbage first, so a slot the loader forgets shows.
  std::memset(g_szNoteName, 0x5A, sizeof g_szNoteName);
  FUZZ_CHECK(LoadNoteNamesFrom(path.string()));

  for (int k = 0; k < kNoteCount; ++k) {
    const char* pszSlot = g_szNoteName[k];
    const void* pZero = std::memchr(pszSlot, '\0', kNoteNameSize);
    FUZZ_CHECK(pZero != nullptr);
    const auto nLen = static_cast<std::size_t>(static_cast<const char*>(pZero) - pszSlot);
    FUZZ_CHECK(std::memchr(pszSlot, '\n', nLen) == nullptr);

    std::string expected;
    if (ExpectedName(pData, nSize, k, expected)) {
      // The bytes kept, then a terminating zero (a NUL byte in the line ends the name early,
      // but the kept bytes are still there).
      FUZZ_CHECK(std::memcmp(pszSlot, expected.data(), expected.size()) == 0);
      FUZZ_CHECK(pszSlot[expected.size()] == '\0');
    } else {
      FUZZ_CHECK(StandardNoteName(k) == pszSlot);
    }
  }
  return 0;
}

namespace fuzz {

std::vector<Bytes> SeedCorpus() {
  std::vector<Bytes> seeds;
  const auto standard = [](const char* pszEnd, int nLines) {
    Bytes bytes;
    for (int k = 0; k < nLines; ++k) {
      Append(bytes, StandardNoteName(k % kNoteCount));
      Append(bytes, pszEnd);
    }
    return bytes;
  };
  seeds.push_back(standard("\n", kNoteCount));    // the shipped file
  seeds.push_back(standard("\r\n", kNoteCount));  // written on another platform
  seeds.push_back(standard("\r", kNoteCount));    // CR without LF: one long line
  seeds.push_back(standard("", kNoteCount));      // no line ends at all
  seeds.push_back(standard("\n", 12));            // an early end
  seeds.push_back(standard("\n", 10000));         // far too many lines
  seeds.push_back({});                            // empty
  seeds.push_back(Bytes(10000, '\n'));            // 10,000 empty lines
  seeds.push_back(Bytes(100000, 'x'));            // one very long line
  seeds.push_back(Bytes(64, '\0'));               // NUL bytes only
  seeds.push_back(Bytes(300, '\r'));
  {
    Bytes bytes = standard("\n", 5);
    Append(bytes, "C5");  // last line without a line feed
    seeds.push_back(bytes);
    Append(bytes, "\r");  // ... ending in a lone CR
    seeds.push_back(bytes);
  }
  {
    Bytes bytes;
    for (int k = 0; k < kNoteCount; ++k) {  // every line longer than a slot
      Append(bytes, std::string(static_cast<std::size_t>(k % 40), static_cast<char>('a' + k % 26)));
      Append(bytes, k % 3 == 0 ? "\r\n" : "\n");
    }
    seeds.push_back(bytes);
  }
  {
    Bytes bytes;  // NUL and CR inside names, 19 and 20 byte lines with CR LF
    Append(bytes, std::string("C\0X\n", 4));
    Append(bytes, "D\rE\n");
    Append(bytes, std::string(19, 'n') + "\r\n");
    Append(bytes, std::string(20, 'n') + "\r\n");
    Append(bytes, std::string(18, 'n') + "\r\r\n");
    Append(bytes, "\r\n\r\n\n");
    Append(bytes, "\xff\xfe\x80\n");
    seeds.push_back(bytes);
  }
  {
    Bytes bytes;  // localised names, UTF-8
    for (int k = 0; k < kNoteCount; ++k) {
      Append(bytes, "Do\xc3\xa9" + std::to_string(k / 12) + "\xe2\x99\xaf\n");
    }
    seeds.push_back(bytes);
  }
  return seeds;
}

}  // namespace fuzz
