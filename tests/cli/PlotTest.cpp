// sonavel-train --plot and --show: the pictures and index of a run over a generated
// recording, and the pattern file viewer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Trainer.h"
#include "support/TrainerTestSupport.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

constexpr int kRate = 11025;
constexpr double kPi = 3.14159265358979323846;

// 0.3 s of silence, then per frequency a decaying one-second tone and 0.7 s of silence.
void WriteTones(const fs::path& path, std::initializer_list<double> freqs) {
  std::vector<std::int16_t> s(static_cast<std::size_t>(0.3 * kRate), 0);
  for (const double f : freqs) {
    for (int k = 0; k < kRate; ++k) {
      const double t = static_cast<double>(k) / kRate;
      const double v = 6000.0 * std::exp(-3.0 * t) *
                       (std::sin(2 * kPi * f * t) + 0.4 * std::sin(4 * kPi * f * t));
      s.push_back(static_cast<std::int16_t>(std::lround(v)));
    }
    s.insert(s.end(), static_cast<std::size_t>(0.7 * kRate), 0);
  }
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(pFile, nullptr);
  sf_write_short(pFile, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(pFile);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

RunResult Train(const std::vector<std::string>& args) { return RunTrainerWith(args); }

class PlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("sonavel-plot-test-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  fs::path m_dir;
};

TEST_F(PlotTest, OnePicturePerDialogAndAnIndexInOrder) {
  WriteTones(m_dir / "in.wav", {262.0, 330.0, 392.0});
  const fs::path plot = m_dir / "plot" / "nested";  // created when missing
  const RunResult r =
      Train({"--input", (m_dir / "in.wav").string(), "--first", "C4", "--last", "C6", "--choices",
             "N,R", "--out", (m_dir / "out").string(), "--plot", plot.string()});
  ASSERT_EQ(r.nCode, 0) << r.err;

  std::vector<std::string> svgs;
  for (const auto& entry : fs::directory_iterator(plot)) {
    if (entry.path().extension() == ".svg") {
      svgs.push_back(entry.path().filename().string());
    }
  }
  std::sort(svgs.begin(), svgs.end());
  ASSERT_EQ(svgs.size(), 3U);  // three tones
  const std::string index = ReadAll(plot / "index.html");
  std::size_t nAt = 0;
  for (std::size_t i = 0; i < svgs.size(); ++i) {
    char szName[32];
    std::snprintf(szName, sizeof szName, "dialog-%03zu.svg", i + 1);
    EXPECT_EQ(svgs[i], szName);
    const std::size_t nFound = index.find(std::string("src=\"") + szName + "\"", nAt);
    ASSERT_NE(nFound, std::string::npos) << szName << " missing or out of order";
    nAt = nFound;

    const std::string svg = ReadAll(plot / szName);
    EXPECT_THAT(svg, HasSubstr("id=\"waveform\""));
    EXPECT_THAT(svg, HasSubstr("id=\"spectrum\""));
    EXPECT_EQ(svg.find("<text class=\"peak\"") != std::string::npos, true) << szName;
    // Well-formed XML, checked by a real parser.
    const std::string command =
        "python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' '" +
        (plot / szName).string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << szName;
  }
  // The notes and answers in order: C4 answered Next, C4# Replay, then C4# again.
  const auto nC4 = index.find("<b class=\"note\">C4</b>, answered <b class=\"answer\">N (Next)");
  const auto nReplay =
      index.find("<b class=\"note\">C4#</b>, answered <b class=\"answer\">R (Replay)");
  const auto nAgain =
      index.find("<b class=\"note\">C4#</b>, answered <b class=\"answer\">N (Next)");
  ASSERT_NE(nAgain, std::string::npos);
  EXPECT_LT(nC4, nReplay);
  EXPECT_LT(nReplay, nAgain);
  EXPECT_THAT(index, HasSubstr("<th>weight</th><td>10</td>"));
}

TEST_F(PlotTest, PlotFolderThatCannotBeCreatedFailsBeforeTheRun) {
  WriteTones(m_dir / "in.wav", {262.0});
  std::ofstream(m_dir / "file") << "x";
  const RunResult r = Train({"--input", (m_dir / "in.wav").string(), "--out",
                             (m_dir / "out").string(), "--plot", (m_dir / "file" / "p").string()});
  EXPECT_EQ(r.nCode, 1);
  EXPECT_THAT(r.err, HasSubstr("cannot create"));
  EXPECT_TRUE(r.out.empty());  // no run, no log
}

TEST_F(PlotTest, ShowPrintsTheListingOfTheRecordsAndReportsABadSize) {
  WriteTones(m_dir / "in.wav", {262.0, 330.0});
  ASSERT_EQ(Train({"--input", (m_dir / "in.wav").string(), "--first", "C4", "--last", "C6", "--out",
                   (m_dir / "out").string()})
                .nCode,
            0);
  const std::string text = ReadAll(m_dir / "out" / "default_pattern.txt");
  const std::string dat = ReadAll(m_dir / "out" / "default_pattern.dat");
  ASSERT_EQ(dat.size(), 108U * 48U);

  RunResult r = Train({"--show", (m_dir / "out" / "default_pattern.dat").string()});
  EXPECT_EQ(r.nCode, 0) << r.err;
  EXPECT_EQ(r.out, text);  // the whole file: the listing written at exit
  EXPECT_TRUE(r.err.empty());

  // The first 50 records and 7 bytes: records C0 ... C4# (49), then the size is reported.
  std::ofstream(m_dir / "cut.dat", std::ios::binary) << dat.substr(0, 50 * 48 + 7);
  r = Train({"--show", (m_dir / "cut.dat").string()});
  EXPECT_EQ(r.nCode, 1);
  std::size_t nCut = 0;
  for (int nLine = 0; nLine < 150; ++nLine) {
    nCut = text.find('\n', nCut) + 1;
  }
  EXPECT_EQ(r.out, text.substr(0, nCut));
  EXPECT_THAT(r.out, HasSubstr(" C4#:\r\n"));
  EXPECT_THAT(r.err, HasSubstr("2407 bytes, not a multiple of 48"));

  r = Train({"--show", (m_dir / "missing.dat").string()});
  EXPECT_EQ(r.nCode, 1);
  EXPECT_THAT(r.err, HasSubstr("cannot read"));
}

}  // namespace
