#include "training/NoteTables.h"

#include <array>
#include <cstdio>
#include <cstring>

char g_szNoteName[kNoteCount][kNoteNameSize];
std::int32_t g_nNoteFreq[kNoteCount];
NotePattern g_fPattern[kNoteCount];

std::atomic<std::int32_t> g_nTrainState{-1};
std::int32_t g_nRunState = 0;
std::int32_t g_nCurNote = 0;
std::int32_t g_nFirstNote = 0;
std::int32_t g_nRangeFirst = kDefaultRangeFirst;
std::int32_t g_nRangeLast = kDefaultRangeLast;

char g_szFirstNoteText[4];
char g_szLastNoteText[4];
char g_szCurNoteText[4];
char g_szPlotMode[4];
char g_szExpectFreqText[8];
char g_szFreqText[kPeakCount][5];
char g_szWeightText[kPeakCount][3];
char g_szMessage[20] = ">>>Play ";

std::int32_t g_nPlotStart = 0;
std::int32_t g_nPlotSegEnd = 0;
std::int32_t g_nPlotEnd = 0;

std::int32_t g_bUserSaved = 0;

char g_szLog[kLogLines][kLogLineSize];
std::int32_t g_nLogLine = 0;
std::int32_t g_nLogTop = 0;
std::int32_t g_bLogScrolled = 0;

namespace {

constexpr std::array<const char*, 12> kSemitoneLetters = {"C", "C", "D", "D", "E", "F",
                                                          "F", "G", "G", "A", "A", "B"};
constexpr std::array<bool, 12> kSemitoneSharp = {false, true,  false, true,  false, false,
                                                 true,  false, true,  false, true,  false};

// Expected frequencies in whole hertz, by note index.
constexpr std::array<std::int32_t, kNoteCount> kNoteFrequencies = {
    16,   17,   18,   19,   21,   22,   23,   25,   26,   28,   29,   31,    // octave 0
    33,   35,   37,   39,   41,   44,   46,   49,   52,   55,   58,   62,    // octave 1
    65,   69,   73,   78,   82,   87,   92,   95,   104,  110,  117,  123,   // octave 2
    130,  138,  146,  155,  164,  174,  185,  196,  207,  220,  233,  246,   // octave 3
    261,  277,  293,  311,  329,  349,  369,  392,  415,  440,  466,  493,   // octave 4
    523,  554,  587,  622,  659,  698,  739,  783,  830,  880,  932,  987,   // octave 5
    1046, 1108, 1174, 1244, 1318, 1396, 1480, 1568, 1661, 1760, 1864, 1975,  // octave 6
    2093, 2217, 2349, 2489, 2637, 2793, 2960, 3136, 3322, 3520, 3729, 3951,  // octave 7
    4186, 4434, 4698, 4978, 5274, 5587, 5919, 6271, 6644, 7040, 7458, 7902,  // octave 8
};

void FillStandardName(int nIndex) {
  CopyText(g_szNoteName[nIndex], StandardNoteName(nIndex).c_str());
}

}  // namespace

std::string StandardNoteName(int nIndex) {
  const auto nSemitone = static_cast<std::size_t>(nIndex % 12);
  std::string name = kSemitoneLetters.at(nSemitone);
  name += static_cast<char>('0' + nIndex / 12);
  if (kSemitoneSharp.at(nSemitone)) {
    name += '#';
  }
  return name;
}

void LoadNoteNames() { LoadNoteNamesFrom("note_symbol.txt"); }

bool LoadNoteNamesFrom(const std::string& path) {
  // Binary mode: the carriage return of a CR LF line end is dropped here, so the names
  // are the same whichever platform wrote the file.
  std::FILE* pFile = std::fopen(path.c_str(), "rb");
  if (pFile == nullptr) {
    std::printf("The file  was not opened\n");
    std::fflush(stdout);
    for (int k = 0; k < kNoteCount; ++k) {
      FillStandardName(k);
    }
    return false;
  }

  int nSlot = 0;
  std::size_t nLen = 0;     // characters kept in the slot being read
  bool bPendingCr = false;  // a carriage return read but not yet kept
  bool bLineStarted = false;
  char* pszSlot = g_szNoteName[0];
  std::memset(pszSlot, 0, kNoteNameSize);

  const auto keep = [&](char ch) {
    if (nLen < kNoteNameSize - 1) {
      pszSlot[nLen++] = ch;
    }
  };

  for (int ch = std::fgetc(pFile); ch != EOF && nSlot < kNoteCount; ch = std::fgetc(pFile)) {
    if (ch == '\n') {
      pszSlot[nLen] = '\0';  // a carriage return right before the line feed is dropped
      bPendingCr = false;
      bLineStarted = false;
      if (++nSlot < kNoteCount) {
        pszSlot = g_szNoteName[nSlot];
        std::memset(pszSlot, 0, kNoteNameSize);
        nLen = 0;
      }
      continue;
    }
    bLineStarted = true;
    if (bPendingCr) {
      keep('\r');  // a lone carriage return inside a line belongs to the name
      bPendingCr = false;
    }
    if (ch == '\r') {
      bPendingCr = true;
    } else {
      keep(static_cast<char>(ch));
    }
  }
  std::fclose(pFile);

  // A last line without a line feed still names its slot; the slots after it keep the
  // standard names.
  if (nSlot < kNoteCount) {
    if (bLineStarted) {
      if (bPendingCr) {
        keep('\r');
      }
      pszSlot[nLen] = '\0';
      ++nSlot;
    }
    for (int k = nSlot; k < kNoteCount; ++k) {
      FillStandardName(k);
    }
  }
  return true;
}

void InitNoteFrequencies() {
  for (int k = 0; k < kNoteCount; ++k) {
    g_nNoteFreq[k] = kNoteFrequencies.at(static_cast<std::size_t>(k));
  }
}

void ResetLog() {
  for (int k = 1; k < kLogLines; ++k) {
    g_szLog[k][0] = '\0';
  }
  g_nLogLine = 2;
  g_nLogTop = 0;
  g_bLogScrolled = 0;
}

void AdvanceLogLine(std::int32_t nStep) {
  g_nLogLine = (g_nLogLine + 1) % kLogLines;
  if (g_bLogScrolled == 0 && g_nLogLine >= kLogVisible) {
    g_bLogScrolled = 1;
    g_nLogTop = (g_nLogTop + nStep) % kLogLines;
  } else if (g_bLogScrolled == 1) {
    g_nLogTop = (g_nLogTop + nStep) % kLogLines;
  }
}

void ResetRunData() {
  std::memset(static_cast<void*>(g_fPattern), 0, sizeof g_fPattern);
  g_nTrainState = -1;
  g_nRunState = 0;
  g_nCurNote = 0;
  g_nFirstNote = 0;
  g_nRangeFirst = kDefaultRangeFirst;
  g_nRangeLast = kDefaultRangeLast;
  g_szFirstNoteText[0] = g_szLastNoteText[0] = g_szCurNoteText[0] = '\0';
  g_szPlotMode[0] = g_szExpectFreqText[0] = '\0';
  for (int n = 0; n < kPeakCount; ++n) {
    g_szFreqText[n][0] = '\0';
    g_szWeightText[n][0] = '\0';
  }
  CopyText(g_szMessage, ">>>Play ");
  g_nPlotStart = g_nPlotSegEnd = g_nPlotEnd = 0;
  g_bUserSaved = 0;
  std::memset(g_szLog, 0, sizeof g_szLog);
  g_nLogLine = g_nLogTop = g_bLogScrolled = 0;
}

void CopyText(char* pszDest, std::size_t nSize, const char* pszSource) {
  if (nSize == 0) {
    return;
  }
  std::size_t n = 0;
  for (; n + 1 < nSize && pszSource[n] != '\0'; ++n) {
    pszDest[n] = pszSource[n];
  }
  pszDest[n] = '\0';
}

void AppendText(char* pszDest, std::size_t nSize, const char* pszSource) {
  std::size_t nUsed = 0;
  while (nUsed < nSize && pszDest[nUsed] != '\0') {
    ++nUsed;
  }
  if (nUsed < nSize) {
    CopyText(pszDest + nUsed, nSize - nUsed, pszSource);
  }
}
