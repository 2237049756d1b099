// Writes test recordings with libsndfile.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <vector>

// A WAV of the 16-bit frames `s` (channels interleaved) in `nFormat`; a float file holds
// v / 32768.
inline void WriteSound(const std::filesystem::path& path, const std::vector<std::int16_t>& s,
                       int nFormat = SF_FORMAT_PCM_16, int nRate = 11025, int nChannels = 1) {
  SF_INFO info{0, nRate, nChannels, SF_FORMAT_WAV | nFormat, 0, 0};
  SNDFILE* pFile = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(pFile, nullptr) << sf_strerror(nullptr);
  sf_command(pFile, SFC_SET_SCALE_INT_FLOAT_WRITE, nullptr, SF_TRUE);
  sf_write_short(pFile, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(pFile);
}
