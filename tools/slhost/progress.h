// A one-line progress bar redrawn in place on a terminal:
//   [##############----------------]  47%   12.5 of 26.6 MiB
#pragma once

#include <cstdint>
#include <cstdio>

namespace slhost {

class Progress {
 public:
  // Draws nothing unless `enabled` (the output is a terminal and the work is large).
  Progress(uint64_t total, bool enabled) : total_(total), enabled_(enabled && total > 0) {}

  void Update(uint64_t done) {
    if (!enabled_) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == shown_) return;
    shown_ = percent;
    char bar[kWidth + 1];
    const int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kWidth] = '\0';
    std::printf("\r[%s] %3d%%  %7.1f of %.1f MiB", bar, percent, Mebibytes(done),
                Mebibytes(total_));
    std::fflush(stdout);
  }
  void Finish() {
    if (!enabled_) return;
    Update(total_);
    std::printf("\n");
  }

 private:
  static constexpr int kWidth = 30;
  static double Mebibytes(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

  uint64_t total_;
  bool enabled_;
  int shown_ = -1;
};

}  // namespace slhost
