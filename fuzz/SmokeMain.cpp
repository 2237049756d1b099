// The smoke driver of a fuzz target: feeds it the target's seed corpus and deterministic
// mutations of it (a fixed-seed generator), so that the target runs as an ordinary test with
// any compiler. Any finding aborts the process.
//
//   <Name>Smoke [--inputs N]             run N inputs in all (default 300)
//   <Name>Smoke --write-corpus FOLDER    write those inputs as files, a start for libFuzzer
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"

namespace {

// splitmix64: small, fast and the same everywhere.
class CRandom {
 public:
  explicit CRandom(std::uint64_t nSeed) : m_nState(nSeed) {}
  std::uint64_t Next() {
    std::uint64_t z = (m_nState += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // 0 ... nBound - 1 (0 when nBound is 0).
  std::size_t Below(std::size_t nBound) {
    return nBound == 0 ? 0 : static_cast<std::size_t>(Next() % nBound);
  }

 private:
  std::uint64_t m_nState;
};

constexpr std::uint8_t kInteresting[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0x0A, 0x0D, 0x23, 0x41};

// One to four edits of `seed`, some spliced with `other`.
fuzz::Bytes Mutate(const fuzz::Bytes& seed, const fuzz::Bytes& other, CRandom& random) {
  fuzz::Bytes bytes = seed;
  const std::size_t nEdits = 1 + random.Below(4);
  for (std::size_t e = 0; e < nEdits; ++e) {
    const std::size_t nPos = random.Below(bytes.size() + 1);
    switch (random.Below(8)) {
      case 0:  // flip a bit
        if (!bytes.empty()) {
          bytes[random.Below(bytes.size())] ^= static_cast<std::uint8_t>(1U << random.Below(8));
        }
        break;
      case 1:  // a random byte
        if (!bytes.empty()) {
          bytes[random.Below(bytes.size())] = static_cast<std::uint8_t>(random.Next());
        }
        break;
      case 2:  // an interesting byte
        if (!bytes.empty()) {
          bytes[random.Below(bytes.size())] = kInteresting[random.Below(sizeof kInteresting)];
        }
        break;
      case 3: {  // insert random bytes
        const std::size_t nCount = 1 + random.Below(16);
        for (std::size_t k = 0; k < nCount; ++k) {
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(nPos),
                       static_cast<std::uint8_t>(random.Next()));
        }
        break;
      }
      case 4: {  // erase a stretch
        const std::size_t nCount = std::min(bytes.size() - nPos, 1 + random.Below(64));
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(nPos),
                    bytes.begin() + static_cast<std::ptrdiff_t>(nPos + nCount));
        break;
      }
      case 5:  // truncate
        bytes.resize(nPos);
        break;
      case 6: {  // an extreme 32-bit value (sizes, rates, counts)
        if (bytes.size() >= 4) {
          static constexpr std::uint32_t kValues[] = {0U,          1U,     0x7FFFFFFFU, 0x80000000U,
                                                      0xFFFFFFFFU, 65536U, 1U << 20};
          const std::uint32_t nValue = kValues[random.Below(std::size(kValues))];
          const std::size_t nAt = random.Below(bytes.size() - 3);
          std::memcpy(bytes.data() + nAt, &nValue, 4);
        }
        break;
      }
      default: {  // splice a piece of another seed in
        if (!other.empty()) {
          const std::size_t nFrom = random.Below(other.size());
          const std::size_t nCount = std::min(other.size() - nFrom, 1 + random.Below(256));
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(nPos),
                       other.begin() + static_cast<std::ptrdiff_t>(nFrom),
                       other.begin() + static_cast<std::ptrdiff_t>(nFrom + nCount));
        }
        break;
      }
    }
  }
  return bytes;
}

int Usage(const char* pszProgram) {
  std::fprintf(stderr, "usage: %s [--inputs N] [--write-corpus FOLDER]\n", pszProgram);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t nInputs = 300;
  std::string corpusFolder;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--inputs") == 0 && k + 1 < argc) {
      nInputs = static_cast<std::size_t>(std::strtoul(argv[++k], nullptr, 10));
    } else if (std::strcmp(argv[k], "--write-corpus") == 0 && k + 1 < argc) {
      corpusFolder = argv[++k];
    } else {
      return Usage(argv[0]);
    }
  }

  const std::vector<fuzz::Bytes> seeds = fuzz::SeedCorpus();
  if (seeds.empty()) {
    std::fprintf(stderr, "no seeds\n");
    return 1;
  }
  std::vector<fuzz::Bytes> inputs = seeds;
  CRandom random(0x5EED5EEDULL);
  while (inputs.size() < nInputs) {
    const fuzz::Bytes& seed = seeds[random.Below(seeds.size())];
    const fuzz::Bytes& other = seeds[random.Below(seeds.size())];
    inputs.push_back(Mutate(seed, other, random));
  }
  inputs.resize(std::min(inputs.size(), std::max(nInputs, seeds.size())));

  if (!corpusFolder.empty()) {
    std::filesystem::create_directories(corpusFolder);
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      char szName[32];
      std::snprintf(szName, sizeof szName, "smoke-%04zu", k);
      const auto path = std::filesystem::path(corpusFolder) / szName;
      fuzz::WriteWholeFile(path, inputs[k].data(), inputs[k].size());
    }
    std::printf("%zu inputs written to %s\n", inputs.size(), corpusFolder.c_str());
    return 0;
  }

  for (const fuzz::Bytes& input : inputs) {
    // An empty vector's data() may be null; libFuzzer never passes null.
    static const std::uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(input.empty() ? &kNothing : input.data(), input.size());
  }
  std::printf("%zu inputs (%zu seeds) passed\n", inputs.size(), seeds.size());
  return 0;
}
