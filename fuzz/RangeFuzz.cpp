// The range rules with arbitrary texts: what the range dialog's edit keeps, how a text is
// cut and looked up, what Ready does over a few attempts in a row (optionally with odd note
// names loaded), and the error dialog's help text for any state.
//
// Input: a flags byte (bits 0-1: attempts - 1; bit 2: replace some note names; bit 3: pass
// the texts to Ready as typed, without the edit's cut), then, with bit 2, a count byte and per
// replaced name an index byte, a length byte and that many bytes; then 4 bytes of a state for
// the help text; then the texts, each ended by a line feed.
#include <algorithm>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "training/NoteTables.h"
#include "training/RangeValidation.h"

namespace {

// The first `nSize` bytes of `psz` hold a terminating zero.
bool Terminated(const char* psz, std::size_t nSize) {
  return std::memchr(psz, '\0', nSize) != nullptr;
}

// The first `nChars` UTF-8 characters of `text`: a character starts at each byte that is not
// a continuation byte (10xxxxxx); continuation bytes before the first such byte go with it.
std::string FirstChars(const std::string& text, std::size_t nChars) {
  std::size_t nStarts = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if ((static_cast<unsigned char>(text[k]) >> 6) != 2 && ++nStarts > nChars) {
      return text.substr(0, k);
    }
  }
  return text;
}

void CheckEditText(const std::string& typed, const std::string& edited) {
  FUZZ_CHECK(edited.size() == FirstChars(typed, 3).size());
  for (std::size_t k = 0; k < edited.size(); ++k) {
    const char ch = typed[k];
    const char expected = ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
    FUZZ_CHECK(edited[k] == expected);
  }
}

// NormalizeNoteText by its description: at most 3 characters, the third kept only if '#',
// then as many whole characters as the 3 bytes of the buffer hold.
std::string Normalized(const std::string& text) {
  std::string cut = FirstChars(text.c_str(), 3);  // as a C string it ends at its first NUL
  if (cut.substr(FirstChars(cut, 2).size()) != "#") {
    cut = FirstChars(cut, 2);
  }
  // The longest prefix of at most 3 bytes that ends where a character starts or the text ends.
  std::size_t nFit = std::min<std::size_t>(cut.size(), 3);
  while (nFit > 0 && nFit < cut.size() && (static_cast<unsigned char>(cut[nFit]) >> 6) == 2) {
    --nFit;
  }
  return cut.substr(0, nFit);
}

void CheckNormalize(const std::string& text) {
  char szDest[4];
  std::memset(szDest, 0x5A, sizeof szDest);
  NormalizeNoteText(text.c_str(), szDest);
  FUZZ_CHECK(Terminated(szDest, sizeof szDest));
  FUZZ_CHECK(Normalized(text) == szDest);
}

void CheckFind(const char* pszText) {
  const std::int32_t n = FindNoteIndex(pszText);
  FUZZ_CHECK(n >= -1 && n < kNoteCount);
  for (std::int32_t k = 0; k < (n == -1 ? kNoteCount : n); ++k) {
    FUZZ_CHECK(std::strcmp(g_szNoteName[k], pszText) != 0);
  }
  if (n >= 0) {
    FUZZ_CHECK(std::strcmp(g_szNoteName[n], pszText) == 0);
  }
}

void CheckHelpText(std::int32_t nState) {
  const std::string text = RangeErrorHelpText(nState);
  FUZZ_CHECK(!text.empty());
  const char* pszHead = nState == 3   ? "Input Range Error:"
                        : nState == 0 ? "FirstNote Input Error:"
                                      : "LastNote Input Error:";
  FUZZ_CHECK(text.rfind(pszHead, 0) == 0);
  FUZZ_CHECK(text.find("Note:\r\nC0<C0#<") != std::string::npos);
  FUZZ_CHECK(text.find("A8#<B8,\r\n") != std::string::npos);
  FUZZ_CHECK(text.find("B8<") == std::string::npos);
  const std::string tail = "The highest note is B8. \r\n";
  FUZZ_CHECK(text.size() >= tail.size() &&
             text.compare(text.size() - tail.size(), tail.size(), tail) == 0);
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\n') {
      FUZZ_CHECK(k > 0 && text[k - 1] == '\r');
    }
    if (text[k] == '\r') {
      FUZZ_CHECK(k + 1 < text.size() && text[k + 1] == '\n');
    }
  }
}

// One press of Ready, checked against what the dialog's rules say.
void Attempt(const std::string& first, const std::string& last) {
  const std::int32_t nStateBefore = g_nRunState;
  const std::int32_t nRangeFirstBefore = g_nRangeFirst;
  char szMessageBefore[sizeof g_szMessage];
  std::memcpy(szMessageBefore, g_szMessage, sizeof g_szMessage);
  const std::string firstCut = Normalized(first);
  const std::string lastCut = Normalized(last);

  const bool bStarted = AcceptRange(first, last);

  FUZZ_CHECK(g_nRunState >= 0 && g_nRunState <= 3);
  FUZZ_CHECK(g_nRunState >= nStateBefore);  // attempts only move the state forward
  FUZZ_CHECK(bStarted == (g_nRunState == 2));
  FUZZ_CHECK(firstCut == g_szFirstNoteText && lastCut == g_szLastNoteText);
  FUZZ_CHECK(g_nRangeFirst >= 0 && g_nRangeFirst < kNoteCount);
  FUZZ_CHECK(g_nRangeLast >= 0 && g_nRangeLast < kNoteCount);

  const std::int32_t nFirst = FindNoteIndex(g_szFirstNoteText);
  const std::int32_t nLast = FindNoteIndex(g_szLastNoteText);
  switch (g_nRunState) {
    case 0:
      FUZZ_CHECK(nFirst == -1);
      break;
    case 1:
      FUZZ_CHECK(nLast == -1);
      if (nStateBefore == 0) {
        FUZZ_CHECK(g_nRangeFirst == nFirst);
      }
      break;
    case 3:
      FUZZ_CHECK(g_nRangeFirst > g_nRangeLast);
      break;
    default:
      break;
  }
  if (nStateBefore == 1) {
    FUZZ_CHECK(g_nRangeFirst == nRangeFirstBefore);  // the first note is not looked up again
  }
  if (bStarted) {
    FUZZ_CHECK(g_nRangeFirst <= g_nRangeLast);
    if (nStateBefore < 2) {
      FUZZ_CHECK(nLast >= 0 && g_nRangeLast == nLast);
    }
    FUZZ_CHECK(g_nCurNote == g_nRangeFirst && g_nFirstNote == g_nRangeFirst);
    for (std::int32_t k = 0; k < g_nRangeFirst; ++k) {
      for (int n = 0; n < kPeakCount; ++n) {
        FUZZ_CHECK(g_fPattern[k].fBin[n] == 0.0f && g_fPattern[k].fWeight[n] == 0.0f);
      }
    }
    // Log lines 0 ... 2: the message that was staged, "...", the first note's name.
    FUZZ_CHECK(std::strcmp(g_szLog[0], szMessageBefore) == 0);
    FUZZ_CHECK(std::strcmp(g_szLog[1], "...") == 0);
    FUZZ_CHECK(std::strcmp(g_szLog[2], g_szNoteName[g_nRangeFirst]) == 0);
    FUZZ_CHECK(std::strcmp(g_szMessage, g_szNoteName[g_nRangeFirst]) == 0);
    FUZZ_CHECK(std::strncmp(g_szCurNoteText, g_szNoteName[g_nRangeFirst], 3) == 0);
    FUZZ_CHECK(Terminated(g_szExpectFreqText, sizeof g_szExpectFreqText));
  }
  for (const auto& line : g_szLog) {
    FUZZ_CHECK(Terminated(line, sizeof line));
  }
  FUZZ_CHECK(Terminated(g_szCurNoteText, sizeof g_szCurNoteText));
  FUZZ_CHECK(Terminated(g_szMessage, sizeof g_szMessage));
  CheckHelpText(g_nRunState);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  fuzz::CByteReader input(pData, nSize);
  const std::uint8_t nFlags = input.Byte();

  // Standard names, a fresh run; then perhaps some odd names in their place.
  for (int k = 0; k < kNoteCount; ++k) {
    CopyText(g_szNoteName[k], StandardNoteName(k).c_str());
  }
  // A fresh run as far as the range rules see it (the sample history plays no part here).
  ResetRunData();
  InitNoteFrequencies();
  ResetLog();
  if ((nFlags & 4) != 0) {
    const int nCount = input.Byte() % 8;
    for (int k = 0; k < nCount; ++k) {
      const int nSlot = input.Byte() % kNoteCount;
      const std::string name = input.Text(input.Byte() % 24U);
      CopyText(g_szNoteName[nSlot], name.c_str());
    }
  }
  CheckHelpText(static_cast<std::int32_t>(input.U32()));

  const int nAttempts = 1 + (nFlags & 3);
  for (int k = 0; k < nAttempts; ++k) {
    const std::string typedFirst = input.TextUntil('\n');
    const std::string typedLast = input.TextUntil('\n');
    const std::string editedFirst = EditNoteText(typedFirst);
    const std::string editedLast = EditNoteText(typedLast);
    CheckEditText(typedFirst, editedFirst);
    CheckEditText(typedLast, editedLast);
    for (const std::string* pText : {&typedFirst, &typedLast, &editedFirst, &editedLast}) {
      CheckNormalize(*pText);
      CheckFind(pText->c_str());
    }
    if ((nFlags & 8) != 0) {
      Attempt(typedFirst, typedLast);
    } else {
      Attempt(editedFirst, editedLast);
    }
  }
  return 0;
}

namespace fuzz {

std::vector<Bytes> SeedCorpus() {
  std::vector<Bytes> seeds;
  const auto range = [](std::uint8_t nFlags, const std::string& texts) {
    Bytes bytes{nFlags};
    AppendLe(bytes, 0, 4);
    Append(bytes, texts);
    return bytes;
  };
  seeds.push_back(range(0, "C1\nC6\n"));
  seeds.push_back(range(0, "c4\nb4\n"));    // lower case
  seeds.push_back(range(0, "C4#\nD4#\n"));  // sharps
  seeds.push_back(range(0, "C4X\nC4\n"));   // third character cut
  seeds.push_back(range(0, "B6\nC2\n"));    // reversed
  seeds.push_back(range(0, "H2\nC3\n"));    // unknown first note
  seeds.push_back(range(0, "C2\nC9\n"));    // unknown last note
  seeds.push_back(range(0, "C0\nB8\n"));    // the whole range
  seeds.push_back(range(0, "B8\nB8\n"));
  seeds.push_back(range(0, "\n\n"));  // empty texts
  seeds.push_back(range(0, "C4########\nE4 with a long tail\n"));
  seeds.push_back(range(8, std::string("C\0"
                                       "4\nD4\n",
                                       6)));      // NUL inside, as typed
  seeds.push_back(range(1, "X1\nC3\nC2\nC3\n"));  // a second try after a bad first note
  seeds.push_back(range(3, "C2\nQ\nC2\nZZ\nC2\nD2\nC2\nE2\n"));  // keeps trying
  seeds.push_back(range(2, "G5\nC1\nC1\nG5\nA1\nA2\n"));         // reversed, then nothing moves
  {
    Bytes bytes{4, 3};  // three odd names: a duplicate, an empty one, a long one
    bytes.push_back(30);
    bytes.push_back(2);
    Append(bytes, "C1");
    bytes.push_back(40);
    bytes.push_back(0);
    bytes.push_back(50);
    bytes.push_back(22);
    Append(bytes, "a very long note name!");
    AppendLe(bytes, 3, 4);
    Append(bytes, "C1\n\n");
    seeds.push_back(bytes);
  }
  for (const std::uint32_t nState : {0U, 1U, 2U, 3U, 4U, 0xFFFFFFFFU, 0x80000000U}) {
    Bytes bytes{0};
    AppendLe(bytes, nState, 4);
    Append(bytes, "A0\nA0#\n");
    seeds.push_back(bytes);
  }
  return seeds;
}

}  // namespace fuzz
