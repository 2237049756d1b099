// The data that a whole training run shares: note names and expected frequencies, the
// pattern store, the run state, the texts the note pattern dialog shows, the plot bounds
// and the ring of log lines the log view draws.
//
// Everything here is process-wide static storage used on the user-interface thread, except
// g_nTrainState, which the capture thread reads at the start of every buffer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr int kNoteCount = 108;         // C0 ... B8
inline constexpr int kNoteNameSize = 20;       // bytes per name slot, terminating zero included
inline constexpr int kLogLines = 2000;         // lines in the log ring
inline constexpr int kLogLineSize = 20;        // bytes per log line
inline constexpr int kLogVisible = 34;         // lines the log view draws
inline constexpr int kPeakCount = 6;           // peaks kept per note pattern
inline constexpr int kDefaultRangeFirst = 12;  // C1
inline constexpr int kDefaultRangeLast = 72;   // C6

// The pattern of one note: six bin numbers (spectrum index + 1) in the order found, then
// their weights 0 ... 10. Twelve zeros stand for a note without a pattern.
struct NotePattern {
  float fBin[kPeakCount];
  float fWeight[kPeakCount];
};
static_assert(sizeof(NotePattern) == 48, "a pattern record is 12 packed floats");

extern char g_szNoteName[kNoteCount][kNoteNameSize];
extern std::int32_t g_nNoteFreq[kNoteCount];  // expected frequency in whole hertz, display only
extern NotePattern g_fPattern[kNoteCount];

// Training step: -1 analysing (also before the run starts), 0 idle, 1 Next, 2 Replay,
// 3 Done, 4 Back. Written on the user-interface thread, read by the capture thread.
extern std::atomic<std::int32_t> g_nTrainState;
extern std::int32_t g_nRunState;   // 0 no range, 1 first matched, 2 running, 3 reversed/finished
extern std::int32_t g_nCurNote;    // note being trained; File > Save writes records below it
extern std::int32_t g_nFirstNote;  // first note of the range; Back stops here
extern std::int32_t g_nRangeFirst;
extern std::int32_t g_nRangeLast;

extern char g_szFirstNoteText[4];
extern char g_szLastNoteText[4];
extern char g_szCurNoteText[4];
extern char g_szPlotMode[4];                // "1" or "2": note records in the plot
extern char g_szExpectFreqText[8];          // "%4d"
extern char g_szFreqText[kPeakCount][5];    // "%4d" each
extern char g_szWeightText[kPeakCount][3];  // "%2d" each
extern char g_szMessage[20];                // staging text for everything that enters the log

// Plotted stretch, in sample-history positions (may exceed the ring size).
extern std::int32_t g_nPlotStart;
extern std::int32_t g_nPlotSegEnd;
extern std::int32_t g_nPlotEnd;

extern std::int32_t g_bUserSaved;  // 1 once a user pattern file was written completely

extern char g_szLog[kLogLines][kLogLineSize];
extern std::int32_t g_nLogLine;      // line the next text goes to
extern std::int32_t g_nLogTop;       // line drawn at the top of the view
extern std::int32_t g_bLogScrolled;  // 1 once the current line has reached kLogVisible

// The standard name of note `nIndex` (0 ... 107): "C0", "C0#", ... "B8".
std::string StandardNoteName(int nIndex);

// Reads note_symbol.txt from the current directory into g_szNoteName.
void LoadNoteNames();

// Reads the note names from `path`, one per line (LF or CR LF). A line longer than 19
// characters keeps its first 19; slots after an early end of file take the standard names.
// When the file cannot be opened, prints "The file  was not opened\n", fills every slot with
// the standard names and returns false.
bool LoadNoteNamesFrom(const std::string& path);

void InitNoteFrequencies();

// Empties log lines 1 ... 1999 (line 0 keeps its text); current line 2, top 0, not scrolled.
void ResetLog();

// Moves to the next log line; once scrolling has begun the top moves by `nStep` (1 or 2).
void AdvanceLogLine(std::int32_t nStep);

// Puts every table, state value and text of this unit back to its program-start value.
// Note names and frequencies are left as loaded.
void ResetRunData();

// Bounded copies into the fixed text buffers: never writes past `nSize` bytes and always
// leaves a terminating zero; a longer text is cut.
void CopyText(char* pszDest, std::size_t nSize, const char* pszSource);
void AppendText(char* pszDest, std::size_t nSize, const char* pszSource);

template <std::size_t N>
void CopyText(char (&szDest)[N], const char* pszSource) {
  CopyText(szDest, N, pszSource);
}
template <std::size_t N>
void AppendText(char (&szDest)[N], const char* pszSource) {
  AppendText(szDest, N, pszSource);
}
