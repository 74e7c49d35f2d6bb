// The catalog names the search benchmarks share: 20 to 40 bytes, words of
// file names, 10% of them in code page 936 and 5% in UTF-8, and every
// thousandth holding "NeedLe" (the rare word).
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace orvane::bench {

inline constexpr int kMatchEvery = 1000;  // 0.1% of the names hold the rare word

class NameCorpus {
 public:
  std::string NextName() {
    static const char* const kWords[] = {
        "linux", "kernel", "backup", "Release", "setup", "Music",  "photo",  "debian", "src",
        "patch", "DOCS",   "manual", "archive", "tools", "x86_64", "update", "driver", "video"};
    static const char* const kExtensions[] = {".tar.gz", ".zip", ".txt", ".iso",
                                              ".mp3",    ".pdf", ".rpm"};
    // 资料, 软件, 文档 in code page 936; 音乐, 照片 in UTF-8.
    static const char* const kGbkWords[] = {"\xD7\xCA\xC1\xCF", "\xC8\xED\xBC\xFE",
                                            "\xCE\xC4\xB5\xB5"};
    static const char* const kUtf8Words[] = {"\xE9\x9F\xB3\xE4\xB9\x90",
                                             "\xE7\x85\xA7\xE7\x89\x87"};
    ++count_;
    std::string name;
    const unsigned kind = rng_() % 100;
    const char* word = kWords[rng_() % std::size(kWords)];
    if (kind < 10) {
      name = std::string(kGbkWords[rng_() % std::size(kGbkWords)]) + "_" + word;
    } else if (kind < 15) {
      name = std::string(kUtf8Words[rng_() % std::size(kUtf8Words)]) + "-" + word;
    } else {
      name = std::string(word) + "-" + kWords[rng_() % std::size(kWords)];
    }
    name += '_';
    name += std::to_string(rng_() % 1000000);
    if (count_ % kMatchEvery == 0) name += "_NeedLe";
    while (name.size() < 20 + rng_() % 12) {
      name += "_v";
      name += std::to_string(rng_() % 100);
    }
    name += kExtensions[rng_() % std::size(kExtensions)];
    return name;
  }

  // Whether the entry of the last name is to be marked new.
  bool NextIsNew() const { return count_ % kMatchEvery == 7; }
  // A file size, powers of two from 1 byte to 8 GiB.
  std::uint64_t NextSize() { return std::uint64_t{1} << (rng_() % 34); }

 private:
  std::mt19937 rng_{12345};
  long count_ = 0;
};

}  // namespace orvane::bench
