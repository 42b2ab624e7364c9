// A one-line progress bar redrawn in place on standard error, as wide as the terminal:
//   [##############----------------]  47%   12.5 of 26.6 MiB
// Standard output stays the command's data alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "console.h"

namespace slhost {

class Progress {
 public:
  // Draws only on a terminal, and only for work of at least 1 MiB.
  explicit Progress(uint64_t total)
      : total_(total),
        enabled_(total >= (1u << 20) && console::IsTerminal(stderr)),
        width_(enabled_ ? BarWidth(console::Columns(stderr)) : 0) {}

  void Update(uint64_t done) {
    if (!enabled_) return;
    const int percent = static_cast<int>((done < total_ ? done : total_) * 100 / total_);
    if (percent == shown_) return;
    shown_ = percent;
    std::string bar;
    if (width_ > 0) {
      const int filled = percent * width_ / 100;
      bar = "[" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(width_ - filled), '-') + "] ";
    }
    std::fprintf(stderr, "\r%s%3d%%  %7.1f of %.1f MiB", bar.c_str(), percent, Mebibytes(done),
                 Mebibytes(total_));
    std::fflush(stderr);
  }
  void Finish() {
    if (!enabled_) return;
    Update(total_);
    std::fputc('\n', stderr);
  }

 private:
  // The text beside the bar takes at most this many columns ("100%  99999.9 of 99999.9 MiB"),
  // the brackets two more, and the last column stays free so the line never wraps.
  static constexpr int kText = 30;
  static int BarWidth(int columns) {
    const int width = (columns > 0 ? columns : 80) - kText - 3;
    return width >= 10 ? width : 0;
  }
  static double Mebibytes(uint64_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

  uint64_t total_;
  bool enabled_;
  int width_;
  int shown_ = -1;
};

}  // namespace slhost
