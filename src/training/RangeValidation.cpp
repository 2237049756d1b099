#include "training/RangeValidation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "training/NoteTables.h"

std::int32_t FindNoteIndex(const char* pszText) {
  for (std::int32_t k = 0; k < kNoteCount; ++k) {
    if (std::strcmp(g_szNoteName[k], pszText) == 0) {
      return k;
    }
  }
  return -1;
}

namespace {

bool IsContinuationByte(char ch) { return (static_cast<unsigned char>(ch) & 0xC0U) == 0x80U; }

// Bytes taken by the first `nChars` characters of the UTF-8 `text` (all of it when shorter). A
// character is a byte that is not a continuation byte, with the continuation bytes after it.
std::size_t CharPrefixBytes(std::string_view text, std::size_t nChars) {
  std::size_t nCount = 0;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (!IsContinuationByte(text[k]) && nCount++ == nChars) {
      return k;
    }
  }
  return text.size();
}

}  // namespace

std::string EditNoteText(const std::string& typed) {
  std::string text = typed.substr(0, CharPrefixBytes(typed, kMaxNoteChars));
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z') {
      ch = static_cast<char>(ch - 'a' + 'A');
    }
  }
  return text;
}

void NormalizeNoteText(const char* pszText, char (&szDest)[4]) {
  const std::string_view text(pszText);
  std::string_view cut = text.substr(0, CharPrefixBytes(text, kMaxNoteChars));
  const std::size_t nTwoChars = CharPrefixBytes(cut, 2);
  if (cut.substr(nTwoChars) != "#") {
    cut = cut.substr(0, nTwoChars);
  }
  // The buffer holds 3 bytes: a text of wider characters loses its last ones whole.
  std::size_t nFit = std::min(cut.size(), sizeof szDest - 1);
  while (nFit > 0 && nFit < cut.size() && IsContinuationByte(cut[nFit])) {
    --nFit;
  }
  CopyText(szDest, std::string(cut.substr(0, nFit)).c_str());
}

bool AcceptRange(const std::string& firstText, const std::string& lastText) {
  NormalizeNoteText(firstText.c_str(), g_szFirstNoteText);
  NormalizeNoteText(lastText.c_str(), g_szLastNoteText);

  if (g_nRunState == 0) {
    const std::int32_t nFirst = FindNoteIndex(g_szFirstNoteText);
    if (nFirst >= 0) {
      g_nRunState = 1;
      g_nRangeFirst = nFirst;
    }
  }
  if (g_nRunState == 1) {
    const std::int32_t nLast = FindNoteIndex(g_szLastNoteText);
    if (nLast >= 0) {
      g_nRunState = 2;
      g_nRangeLast = nLast;
    }
  }
  if (g_nRunState == 2) {
    if (g_nRangeFirst > g_nRangeLast) {
      g_nRunState = 3;
    } else {
      StartTrainingRun(g_nRangeFirst);
    }
  }
  return g_nRunState == 2;
}

void StartTrainingRun(std::int32_t nFirst) {
  g_nCurNote = nFirst;
  g_nFirstNote = nFirst;
  for (std::int32_t k = 0; k < nFirst; ++k) {
    g_fPattern[k] = NotePattern{};
  }
  CopyText(g_szLog[0], g_szMessage);
  CopyText(g_szLog[1], "...");
  CopyText(g_szMessage, g_szNoteName[nFirst]);
  CopyText(g_szLog[2], g_szMessage);
  CopyText(g_szCurNoteText, g_szNoteName[nFirst]);
  std::snprintf(g_szExpectFreqText, sizeof g_szExpectFreqText, "%4d", g_nNoteFreq[nFirst]);
}

std::string RangeErrorHelpText(std::int32_t nRunState) {
  std::string text;
  if (nRunState == 3) {
    text += "Input Range Error:\r\n\r\n";
    text += "First input note should not be higher than\r\n";
    text += "last note, for example:\r\n\r\n";
    text += "FirstNote: C1\r\n";
    text += "LastNote: B1\r\n\r\n\r\n";
  } else {
    text += nRunState == 0 ? "FirstNote Input Error: \r\n\r\n" : "LastNote Input Error: \r\n\r\n";
    text += "Each note should be no more than 3 characters. \r\n";
    text += "The first character must be one of below letter:\r\n";
    text += "C, D, E, F, G, A, B. \r\n";
    text += "The second position should be one of below number: \r\n";
    text += "0, 1, 2, 3, 4, 5, 6, 7, 8.\r\n";
    text += "The third position should be # or empty. \r\n\r\n\r\n";
  }
  text += "Note:\r\n";
  for (int nOctave = 0; nOctave <= 8; ++nOctave) {
    const char d = static_cast<char>('0' + nOctave);
    for (const char* pszName : {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"}) {
      text += pszName[0];
      text += d;
      if (pszName[1] == '#') {
        text += '#';
      }
      text += '<';
    }
    if (nOctave < 8) {
      text += 'C';
      text += static_cast<char>(d + 1);
    } else {
      text.pop_back();  // the last row ends at B8
    }
    text += ",\r\n";
  }
  text += "The lowest note is C0, \r\n";
  text += "The highest note is B8. \r\n";
  return text;
}

void AcknowledgeCaution() { g_nTrainState = 0; }
