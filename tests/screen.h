// A terminal screen for tests: what a byte stream leaves on a terminal of a given width. It
// knows printable characters, CR and LF, and wraps at the right edge; any other byte takes a
// cell of its own, shown as '?'. Enough for the tool, which writes no escape sequences.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace screen {

class Screen {
 public:
  explicit Screen(std::size_t width) : width_(width), rows_(1) {}

  void put(std::string_view bytes) {
    for (char c : bytes) {
      if (c == '\r') {
        col_ = 0;
      } else if (c == '\n') {
        next_row();
      } else {
        std::string& line = rows_[row_];
        if (line.size() <= col_) line.resize(col_ + 1, ' ');
        line[col_] = c >= ' ' && c <= '~' ? c : '?';
        if (++col_ == width_) {
          col_ = 0;
          next_row();
        }
      }
    }
  }

  friend bool operator==(const Screen&, const Screen&) = default;

  // The rows without trailing blanks, one per line, then the cursor position.
  std::string text() const {
    std::string s;
    for (const std::string& line : rows_) {
      s += line.substr(0, line.find_last_not_of(' ') + 1);
      s += '\n';
    }
    return s + "cursor " + std::to_string(row_) + "," + std::to_string(col_);
  }

 private:
  void next_row() {
    if (++row_ == rows_.size()) rows_.emplace_back();
  }

  std::size_t width_;
  std::vector<std::string> rows_;
  std::size_t row_ = 0;
  std::size_t col_ = 0;
};

// The screen a byte stream leaves.
inline std::string shown(std::string_view bytes, std::size_t width) {
  Screen s(width);
  s.put(bytes);
  return s.text();
}

}  // namespace screen
