// The piano roll of WritePianoRoll, in the look of sonavel-train --plot: SVG units at twice
// the pixel size, sans-serif, black text on white, data in the plot's blue.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <system_error>

#include "export/NoteExport.h"
#include "files/PatternFiles.h"
#include "training/NoteTables.h"

namespace fs = std::filesystem;

namespace {

constexpr int kLeft = 150;  // room for the note names
constexpr int kRight = 80;  // room for the last time label
constexpr int kTop = 100;   // below the title and the legend
constexpr int kRowHeight = 30;
constexpr int kAxisHeight = 70;
constexpr double kUnitsPerSecond = 200.0;  // 100 pixels a second while that fits
constexpr int kMinPlotWidth = 1200;
constexpr int kMaxPlotWidth = 8000 - kLeft - kRight;  // the picture at most 4000 pixels wide
constexpr int kEnergyColumn = 2;                      // units per envelope point: one pixel

// The length in bytes of the valid UTF-8 character at `nAt`, 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t nAt) {
  const auto byte = [&](std::size_t n) { return static_cast<unsigned char>(text[n]); };
  const unsigned char ch = byte(nAt);
  const std::size_t nLength = ch < 0x80                 ? 1
                              : ch >= 0xC2 && ch < 0xE0 ? 2
                              : ch >= 0xE0 && ch < 0xF0 ? 3
                              : ch >= 0xF0 && ch < 0xF5 ? 4
                                                        : 0;
  if (nLength == 0 || nAt + nLength > text.size()) {
    return 0;
  }
  for (std::size_t n = 1; n < nLength; ++n) {
    if ((byte(nAt + n) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return nLength;
}

// Text for XML and HTML: markup characters escaped, control characters dropped and bytes
// that are not UTF-8 (a file name in another encoding) replaced by U+FFFD.
std::string Escape(const std::string& text) {
  std::string out;
  for (std::size_t n = 0; n < text.size();) {
    const std::size_t nLength = Utf8Length(text, n);
    const char ch = text[n];
    if (nLength == 0) {
      out += "\xEF\xBF\xBD";
    } else if (nLength > 1) {
      out.append(text, n, nLength);
    } else if (ch == '&') {
      out += "&amp;";
    } else if (ch == '<') {
      out += "&lt;";
    } else if (ch == '>') {
      out += "&gt;";
    } else if (ch == '"') {
      out += "&quot;";
    } else if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t') {
      out += ch;
    }
    n += std::max<std::size_t>(nLength, 1);
  }
  return out;
}

std::string Str(int nValue) { return std::to_string(nValue); }

// "%g": a tick's seconds or a legend value, as short as it is exact.
std::string General(double dValue) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%g", dValue);
  return buffer.data();
}

std::string Fixed(double dValue, int nDecimals) {
  std::array<char, 32> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%.*f", nDecimals, dValue);
  return buffer.data();
}

// A bar's colour: pale blue for score 0 to dark blue for score 1.
std::string Shade(double dScore) {
  const double d = std::isfinite(dScore) ? std::clamp(dScore, 0.0, 1.0) : 0.0;
  const auto mix = [d](int nPale, int nDark) {
    return static_cast<int>(std::lround(nPale + (nDark - nPale) * d));
  };
  std::array<char, 8> colour{};
  std::snprintf(colour.data(), colour.size(), "#%02x%02x%02x", mix(214, 16), mix(222, 32),
                mix(240, 96));
  return colour.data();
}

bool IsSharp(int nNote) {
  const int nStep = nNote % 12;
  return nStep == 1 || nStep == 3 || nStep == 6 || nStep == 8 || nStep == 10;
}

// Seconds between time ticks: the first of the usual steps at least 120 units apart.
double TickStep(double dUnitsPerSecond) {
  for (const double dStep : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0,
                             600.0, 1200.0, 1800.0}) {
    if (dStep * dUnitsPerSecond >= 120.0) {
      return dStep;
    }
  }
  double dStep = 3600.0;  // hours, doubled for a recording of days
  while (dStep * dUnitsPerSecond < 120.0) {
    dStep *= 2.0;
  }
  return dStep;
}

// The energy as a closed path over the rows: the largest value in each column, the largest
// of all reaching the top.
std::string EnergyPath(const PianoRoll& roll, double dUnitsPerSecond, int nPlotWidth, int nBottom,
                       int nHeight) {
  if (roll.energy.empty() || !(roll.dEnergyStep > 0.0)) {
    return {};
  }
  const auto value = [&](std::size_t n) {
    const float f = roll.energy[n];
    return std::isfinite(f) ? std::max(f, 0.0F) : 0.0F;
  };
  std::vector<float> columns;
  for (int nX = 0; nX < nPlotWidth; nX += kEnergyColumn) {
    const double dFirst = nX / dUnitsPerSecond / roll.dEnergyStep;
    const double dEnd = (nX + kEnergyColumn) / dUnitsPerSecond / roll.dEnergyStep;
    const auto nFirst = static_cast<std::size_t>(std::min(dFirst, 1.0e15));
    const auto nEnd = std::max(nFirst + 1, static_cast<std::size_t>(std::min(dEnd, 1.0e15)));
    float fMax = 0.0F;
    for (std::size_t n = nFirst; n < std::min(nEnd, roll.energy.size()); ++n) {
      fMax = std::max(fMax, value(n));
    }
    columns.push_back(fMax);
  }
  const float fTop = *std::max_element(columns.begin(), columns.end());
  if (!(fTop > 0.0F)) {
    return {};
  }
  // Appended piece by piece: GCC 12 misreads chains of temporaries here (-Wrestrict).
  std::string path;
  const auto point = [&path](char cCommand, int nX, int nY) {
    path += cCommand;
    path += Str(nX);
    path += ' ';
    path += Str(nY);
  };
  point('M', kLeft, nBottom);
  for (std::size_t n = 0; n < columns.size(); ++n) {
    const double dHeight = static_cast<double>(columns[n] / fTop) * nHeight;
    point('L', kLeft + static_cast<int>(n) * kEnergyColumn,
          nBottom - static_cast<int>(std::lround(dHeight)));
  }
  point('L', kLeft + nPlotWidth, nBottom);
  path += 'Z';
  return "<path id=\"energy\" fill=\"#a0a0a0\" fill-opacity=\"0.35\" d=\"" + path + "\"/>\n";
}

std::string NameOf(const std::vector<std::string>& names, int nNote) {
  return nNote >= 0 && static_cast<std::size_t>(nNote) < names.size()
             ? names[static_cast<std::size_t>(nNote)]
             : std::string();
}

}  // namespace

bool WritePianoRoll(const fs::path& folder, const PianoRoll& roll,
                    const std::vector<std::string>& names, std::string& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    error = "Could not write " + (folder / kPianoRollSvgName).string() + ": " + ec.message();
    return false;
  }

  // The rows, highest note at the top: the trained notes and any other note recognised.
  std::vector<int> rows;
  for (const std::int32_t nNote : roll.trainedNotes) {
    rows.push_back(nNote);
  }
  double dSeconds = std::isfinite(roll.dSeconds) ? roll.dSeconds : 0.0;
  for (const RecognizedNote& note : roll.notes) {
    rows.push_back(note.nNote);
    if (std::isfinite(note.dOffset)) {
      dSeconds = std::max(dSeconds, note.dOffset);
    }
  }
  std::erase_if(rows, [](int nNote) { return nNote < 0 || nNote >= kNoteCount; });
  std::sort(rows.begin(), rows.end(), std::greater<>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::array<int, kNoteCount> rowOf{};
  for (std::size_t n = 0; n < rows.size(); ++n) {
    rowOf[static_cast<std::size_t>(rows[n])] = static_cast<int>(n);
  }

  dSeconds = std::max(dSeconds, 0.1);
  const int nPlotWidth = static_cast<int>(
      std::clamp(dSeconds * kUnitsPerSecond, double{kMinPlotWidth}, double{kMaxPlotWidth}));
  const double dScale = nPlotWidth / dSeconds;  // units per second
  const int nBottom = kTop + static_cast<int>(rows.size()) * kRowHeight;
  const int nWidth = kLeft + nPlotWidth + kRight;
  const int nHeight = nBottom + kAxisHeight;
  const auto x = [&](double dTime) {
    const double d = std::isfinite(dTime) ? std::clamp(dTime, 0.0, dSeconds) : 0.0;
    return kLeft + static_cast<int>(std::lround(d * dScale));
  };

  const std::string title = std::to_string(roll.notes.size()) +
                            (roll.notes.size() == 1 ? " note" : " notes") + " recognised" +
                            (roll.title.empty() ? std::string() : " in " + roll.title);
  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Str(nWidth / 2) + "\" height=\"" +
         Str(nHeight / 2) + "\" viewBox=\"0 0 " + Str(nWidth) + ' ' + Str(nHeight) +
         "\" font-family=\"sans-serif\" font-size=\"26\">\n";
  svg += "<title>" + Escape(title) + "</title>\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + Str(nWidth) + "\" height=\"" + Str(nHeight) +
         "\" fill=\"#ffffff\"/>\n";
  svg += "<text x=\"20\" y=\"28\">" + Escape(title) + "</text>\n";

  // The legend: the score's shades, and the energy.
  svg += "<g id=\"legend\" font-size=\"22\">\n<text x=\"20\" y=\"72\">score</text>\n";
  for (int n = 0; n <= 4; ++n) {
    const int nX = 100 + n * 110;
    svg += "<rect x=\"" + Str(nX) +
           "\" y=\"52\" width=\"40\" height=\"24\" stroke=\"#203060\" "
           "fill=\"" +
           Shade(n / 4.0) + "\"/><text x=\"" + Str(nX + 46) + "\" y=\"72\">" + General(n / 4.0) +
           "</text>\n";
  }
  svg +=
      "<rect x=\"680\" y=\"52\" width=\"40\" height=\"24\" fill=\"#a0a0a0\" "
      "fill-opacity=\"0.35\"/><text x=\"726\" y=\"72\">energy</text>\n</g>\n";

  // The rows: sharps shaded as on a keyboard, a line below every C, the names at the left.
  svg += "<g id=\"rows\" font-size=\"22\">\n";
  for (std::size_t n = 0; n < rows.size(); ++n) {
    const int nTop = kTop + static_cast<int>(n) * kRowHeight;
    if (IsSharp(rows[n])) {
      svg += "<rect x=\"" + Str(kLeft) + "\" y=\"" + Str(nTop) + "\" width=\"" + Str(nPlotWidth) +
             "\" height=\"" + Str(kRowHeight) + "\" fill=\"#eeeeee\"/>\n";
    }
    const bool bC = rows[n] % 12 == 0;
    if (bC) {
      svg += "<path stroke=\"#808080\" d=\"M" + Str(kLeft) + ' ' + Str(nTop + kRowHeight) + "h" +
             Str(nPlotWidth) + "\"/>\n";
    }
    svg += "<text x=\"" + Str(kLeft - 12) + "\" y=\"" + Str(nTop + 22) + "\" text-anchor=\"end\"" +
           (bC ? " font-weight=\"bold\"" : "") + ">" + Escape(NameOf(names, rows[n])) + "</text>\n";
  }
  svg += "</g>\n";
  svg += EnergyPath(roll, dScale, nPlotWidth, nBottom, nBottom - kTop);

  // The time axis, with a faint line up through the rows at every tick.
  const double dStep = TickStep(dScale);
  svg += "<g id=\"time\">\n<path stroke=\"#000000\" stroke-width=\"2\" d=\"M" + Str(kLeft) + ' ' +
         Str(nBottom) + "h" + Str(nPlotWidth) + "\"/>\n";
  for (int nTick = 0; nTick * dStep <= dSeconds + 1e-9; ++nTick) {
    const int nX = x(nTick * dStep);
    svg += "<path stroke=\"#d8d8d8\" stroke-width=\"2\" d=\"M" + Str(nX) + ' ' + Str(kTop) + "V" +
           Str(nBottom) + "\"/><path stroke=\"#000000\" stroke-width=\"2\" d=\"M" + Str(nX) + ' ' +
           Str(nBottom) + "v10\"/><text x=\"" + Str(nX) + "\" y=\"" + Str(nBottom + 40) +
           "\" text-anchor=\"middle\">" + General(nTick * dStep) + " s</text>\n";
  }
  svg += "</g>\n";

  // The notes, each with its times and score as a tooltip.
  svg += "<g id=\"notes\" stroke=\"#203060\">\n";
  for (const RecognizedNote& note : roll.notes) {
    if (note.nNote < 0 || note.nNote >= kNoteCount) {
      continue;
    }
    const int nX = x(note.dOnset);
    const int nTop = kTop + rowOf[static_cast<std::size_t>(note.nNote)] * kRowHeight + 4;
    svg += "<rect x=\"" + Str(nX) + "\" y=\"" + Str(nTop) + "\" width=\"" +
           Str(std::max(2, x(note.dOffset) - nX)) + "\" height=\"" + Str(kRowHeight - 8) +
           "\" fill=\"" + Shade(note.dScore) + "\"><title>" + Escape(NameOf(names, note.nNote)) +
           " " + Fixed(note.dOnset, 3) + " to " + Fixed(note.dOffset, 3) + " s" + ", score " +
           Fixed(note.dScore, 2) + "</title></rect>\n";
  }
  svg += "</g>\n</svg>\n";
  if (!WriteFileReplacing(folder / kPianoRollSvgName, svg, &error)) {
    return false;
  }

  std::string html;
  html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  html += "<link rel=\"icon\" href=\"data:,\">\n";
  html += "<title>sonavel-recognize: " + Escape(title) + "</title>\n";
  html +=
      "<style>body{font-family:sans-serif;margin:1em}.roll{overflow-x:auto}"
      ".key{display:inline-block;width:1.5em;height:.9em;border:1px solid #203060;"
      "vertical-align:middle}</style>\n</head>\n<body>\n";
  html += "<h1>" + Escape(title) + "</h1>\n";
  html +=
      "<p>Time runs across, in seconds; each row is a trained note, the lowest at the bottom "
      "(sharps shaded, a line below every C). Each bar is a recognised note from its onset to "
      "its offset, shaded by its score from <span class=\"key\" style=\"background:" +
      Shade(0.0) + "\"></span> 0 to <span class=\"key\" style=\"background:" + Shade(1.0) +
      "\"></span> 1: the darker, the surer. The grey area behind the notes is the energy of the "
      "signal. Point at a bar in the picture alone (click it) to read its times and score.</p>\n";
  html += "<div class=\"roll\"><a href=\"" + std::string(kPianoRollSvgName) + "\"><img src=\"" +
          kPianoRollSvgName + "\" alt=\"Piano roll of the recognised notes\" width=\"" +
          Str(nWidth / 2) + "\" height=\"" + Str(nHeight / 2) + "\"></a></div>\n";
  html += "</body>\n</html>\n";
  return WriteFileReplacing(folder / kPianoRollIndexName, html, &error);
}
