#include "cli/PlotWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "analysis/Fft.h"
#include "analysis/SampleHistory.h"
#include "files/PatternFiles.h"
#include "training/NotePlot.h"
#include "training/TrainingController.h"

namespace {

// The picture, in SVG units: the dialog's plot frame on top (0.1 mm units, y flipped and
// moved down by kPlotOffset), the spectrum below it.
constexpr int kWidth = 1840;
constexpr int kTitleY = 28;
constexpr int kPlotOffset = 40;
constexpr int kFrameBottom = kPlotOffset + 670;
constexpr int kSpectrumTop = 760;
constexpr int kSpectrumBottom = 1260;
constexpr int kBinWidth = 7;
constexpr int kSpectrumBins = 256;
constexpr int kHeight = 1320;

std::string Escape(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control characters are not allowed in XML text.
        if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t') {
          out += ch;
        }
    }
  }
  return out;
}

std::string Trim(const char* psz) {
  std::string text(psz);
  const auto nFirst = text.find_first_not_of(' ');
  return nFirst == std::string::npos ? std::string() : text.substr(nFirst);
}

int SvgY(int nUnitY) { return kPlotOffset - nUnitY; }

// Appends a path command with its point: "M20 375".
void AppendPoint(std::string& path, char cCommand, int nX, int nY) {
  path += cCommand;
  path += std::to_string(nX);
  path += ' ';
  path += std::to_string(nY);
}

const char* PenColour(PlotLine::Pen pen) {
  switch (pen) {
    case PlotLine::Pen::White:
      return "#ffffff";
    case PlotLine::Pen::Cyan:
      return "#00c0c0";
    case PlotLine::Pen::Black:
      break;
  }
  return "#000000";
}

// The plot's lines as one path per pen, joined where a line starts at the previous end.
std::string PlotPaths(const std::vector<PlotLine>& lines) {
  std::string out;
  for (const auto pen : {PlotLine::Pen::Black, PlotLine::Pen::White, PlotLine::Pen::Cyan}) {
    std::string path;
    int nLastX = 0;
    int nLastY = 0;
    for (const PlotLine& line : lines) {
      if (line.pen != pen) {
        continue;
      }
      const int nX1 = line.nX1;
      const int nY1 = SvgY(line.nY1);
      if (path.empty() || nX1 != nLastX || nY1 != nLastY) {
        AppendPoint(path, 'M', nX1, nY1);
      }
      nLastX = line.nX2;
      nLastY = SvgY(line.nY2);
      AppendPoint(path, 'L', nLastX, nLastY);
    }
    if (!path.empty()) {
      out += std::string("<path fill=\"none\" stroke-width=\"3\" stroke=\"") + PenColour(pen) +
             "\" d=\"" + path + "\"/>\n";
    }
  }
  return out;
}

int BinX(int nIndex) { return kPlotLeft + nIndex * kBinWidth + kBinWidth / 2; }

}  // namespace

std::string CPlotWriter::DialogFileName(std::size_t nDialog) {
  char szName[32];
  std::snprintf(szName, sizeof szName, "dialog-%03zu.svg", nDialog);
  return szName;
}

void CPlotWriter::Write(const std::string& name, const std::string& text) {
  std::string error;
  if (!WriteFileReplacing(m_folder / name, text, &error) && m_error.empty()) {
    m_error = error;
  }
}

void CPlotWriter::WriteDialog(std::size_t nDialog, const NotePattern& pattern,
                              const std::string& answer) {
  Entry entry;
  entry.nDialog = nDialog;
  entry.note = g_nCurNote >= 0 && g_nCurNote < kNoteCount ? g_szNoteName[g_nCurNote] : "";
  entry.answer = answer;
  entry.pattern = pattern;
  for (int n = 0; n < kPeakCount; ++n) {
    entry.freqTexts[static_cast<std::size_t>(n)] = Trim(g_szFreqText[n]);
  }

  // The same stretch and marks as the dialog's plot; the lock keeps a reset out.
  std::vector<PlotLine> lines;
  {
    const std::lock_guard<std::mutex> lock(HistoryMutex());
    lines = ComputeNotePlot(g_nPlotStart, g_nPlotSegEnd, g_nPlotEnd, g_szPlotMode, g_fSampleRing);
  }
  // The spectrum the pattern was taken from, as the controller computed it.
  std::array<float, kFftLen> block{};
  CopyHistorySamples(NoteBlockStart(g_nPlotStart, g_nPlotSegEnd), kFftLen, block.data());
  FftMagnitudes(block.data());
  float fMax = 0.0F;
  for (int i = 0; i < kSpectrumBins; ++i) {
    fMax = std::max(fMax, block[static_cast<std::size_t>(i)]);
  }
  const double dScale =
      fMax > 0.0F ? (kSpectrumBottom - kSpectrumTop) / static_cast<double>(fMax) : 0.0;
  const auto barTop = [&](int nIndex) {
    const double dH = static_cast<double>(block[static_cast<std::size_t>(nIndex)]) * dScale;
    return kSpectrumBottom - static_cast<int>(std::isfinite(dH) ? std::clamp(dH, 0.0, 500.0) : 0.0);
  };

  const std::string title =
      "Dialog " + std::to_string(nDialog) + ": " + entry.note + ", answered " + answer;
  std::string svg;
  svg.reserve(std::size_t{64} * 1024);
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth / 2) +
         "\" height=\"" + std::to_string(kHeight / 2) + "\" viewBox=\"0 0 " +
         std::to_string(kWidth) + ' ' + std::to_string(kHeight) +
         "\" font-family=\"sans-serif\" font-size=\"26\">\n";
  svg += "<title>" + Escape(title) + "</title>\n";
  svg += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
         std::to_string(kHeight) + "\" fill=\"#ffffff\"/>\n";
  svg += "<text x=\"20\" y=\"" + std::to_string(kTitleY) + "\">" + Escape(title) + "</text>\n";

  // (a) The waveform, on the plot frame's grey so that the white marks show.
  svg += "<g id=\"waveform\">\n<rect x=\"0\" y=\"" + std::to_string(kPlotOffset) + "\" width=\"" +
         std::to_string(kWidth) + "\" height=\"" + std::to_string(kFrameBottom - kPlotOffset) +
         "\" fill=\"#c0c0c0\"/>\n";
  svg += PlotPaths(lines);
  svg += "</g>\n";

  // (b) The band spectrum: bins 1 ... 256, frequency ticks every kilohertz, the six peaks.
  svg += "<g id=\"spectrum\">\n<path fill=\"none\" stroke=\"#4060a0\" stroke-width=\"5\" d=\"";
  for (int i = 0; i < kSpectrumBins; ++i) {
    AppendPoint(svg, 'M', BinX(i), kSpectrumBottom);
    svg += 'V';
    svg += std::to_string(barTop(i));
  }
  svg += "\"/>\n";
  svg += "<path stroke=\"#000000\" stroke-width=\"2\" d=\"M" + std::to_string(kPlotLeft) + ' ' +
         std::to_string(kSpectrumBottom) + "H" +
         std::to_string(kPlotLeft + kSpectrumBins * kBinWidth) + "\"/>\n";
  for (int nHz = 0; nHz <= 5000; nHz += 1000) {
    const int nX = kPlotLeft + static_cast<int>(nHz / kHzPerBin * kBinWidth);
    svg += "<text x=\"" + std::to_string(nX) + "\" y=\"" + std::to_string(kSpectrumBottom + 32) +
           "\" text-anchor=\"" + (nHz == 0 ? "start" : "middle") + "\">" + std::to_string(nHz) +
           " Hz</text>\n";
  }
  for (int n = 0; n < kPeakCount; ++n) {
    const int nBin = static_cast<int>(pattern.fBin[n]);
    if (nBin < 1 || nBin > kSpectrumBins) {
      continue;
    }
    const int nX = BinX(nBin - 1);
    const int nLabelY = kSpectrumTop - 10 + 30 * n;
    // Labels to the right of their mark, or to its left near the right edge.
    const bool bLeft = nX > kWidth - 400;
    const int nLabelX = bLeft ? nX - 12 : nX + 12;
    svg += "<path stroke=\"#d00000\" stroke-width=\"2\" stroke-dasharray=\"6 4\" d=\"M" +
           std::to_string(nX) + ' ' + std::to_string(nLabelY + 6) + "V" +
           std::to_string(barTop(nBin - 1)) + "\"/>\n";
    svg += "<circle cx=\"" + std::to_string(nX) + "\" cy=\"" + std::to_string(barTop(nBin - 1)) +
           "\" r=\"8\" fill=\"#d00000\"/>\n";
    svg += "<text class=\"peak\" x=\"" + std::to_string(nLabelX) + "\" y=\"" +
           std::to_string(nLabelY) + "\" text-anchor=\"" + (bLeft ? "end" : "start") +
           "\" fill=\"#d00000\">" + Escape(entry.freqTexts[static_cast<std::size_t>(n)]) +
           " Hz, weight " + std::to_string(static_cast<int>(pattern.fWeight[n])) + "</text>\n";
  }
  svg += "</g>\n</svg>\n";
  Write(DialogFileName(nDialog), svg);
  m_entries.push_back(std::move(entry));
}

void CPlotWriter::WriteIndex() {
  std::string html;
  html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  html += "<link rel=\"icon\" href=\"data:,\">\n";
  html += "<title>sonavel-train: " + std::to_string(m_entries.size()) +
          " note pattern dialogs</title>\n";
  html +=
      "<style>body{font-family:sans-serif;margin:1em}figure{margin:0 0 2em;border-bottom:1px "
      "solid #ccc;padding-bottom:1em}img{max-width:100%;height:auto}"
      "td,th{padding:0 .5em;text-align:right}</style>\n</head>\n<body>\n";
  html += "<h1>" + std::to_string(m_entries.size()) + " note pattern dialogs</h1>\n";
  for (const Entry& entry : m_entries) {
    const std::string name = DialogFileName(entry.nDialog);
    const std::string id = name.substr(0, name.size() - 4);
    html += "<figure id=\"" + id + "\">\n<img src=\"";
    html += name + "\" alt=\"" + Escape(id) + "\" width=\"920\" height=\"660\">\n";
    html += "<figcaption>Dialog " + std::to_string(entry.nDialog) + ": note <b class=\"note\">";
    html += Escape(entry.note) + "</b>, answered <b class=\"answer\">";
    html += Escape(entry.answer) + "</b>\n<table>\n";
    html += "<tr><th>Hz</th>";
    for (const std::string& freq : entry.freqTexts) {
      html += "<td>" + Escape(freq) + "</td>";
    }
    html += "</tr>\n<tr><th>weight</th>";
    for (const float fWeight : entry.pattern.fWeight) {
      html += "<td>" + std::to_string(static_cast<int>(fWeight)) + "</td>";
    }
    html += "</tr>\n</table>\n</figcaption>\n</figure>\n";
  }
  html += "</body>\n</html>\n";
  Write("index.html", html);
}
