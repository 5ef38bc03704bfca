// A terminal screen for tests: what a byte stream leaves on a terminal of a given width. It
// knows printable characters, CR and LF, and wraps at the right edge; any other byte takes a
// cell of its own, shown as '?'. The tool writes no escape sequences; a console host that draws
// a console on a terminal does, and with `escapes` these are known: cursor moves (CSI A, B, C, D,
// H), erasing the rest of a line or of the screen (CSI K, J); other CSI sequences (cursor shown or
// hidden, colours) and OSC titles change nothing shown.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace screen {

class Screen {
 public:
  explicit Screen(std::size_t width, bool escapes = false)
      : escapes_(escapes), width_(width), rows_(1) {}

  void put(std::string_view bytes) {
    for (char c : bytes) {
      if (escapes_ && escape(c)) continue;
      if (c == '\r') {
        col_ = 0;
      } else if (c == '\n') {
        next_row();
      } else {
        // A console host's terminal keeps the cursor past the last column until the next
        // character, so that a line end written there makes no empty row.
        if (col_ == width_) {
          col_ = 0;
          next_row();
        }
        std::string& line = rows_[row_];
        if (line.size() <= col_) line.resize(col_ + 1, ' ');
        line[col_] = c >= ' ' && c <= '~' ? c : '?';
        if (++col_ == width_ && !escapes_) {
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
  // Takes c when it belongs to an escape sequence; carries out a finished one.
  bool escape(char c) {
    if (state_ == kText) {
      if (c != '\x1b') return false;
      state_ = kEsc;
      return true;
    }
    if (state_ == kEsc) {
      state_ = c == '[' ? kCsi : c == ']' ? kOsc : kText;
      params_.clear();
      return true;
    }
    if (state_ == kOsc) {
      if (c == '\a' || c == '\\') state_ = kText;
      return true;
    }
    if ((c >= '0' && c <= '9') || c == ';' || c == '?') {
      params_ += c;
      return true;
    }
    state_ = kText;
    const std::size_t n = params_.empty() || params_[0] == '?'
                              ? 1
                              : std::max<std::size_t>(1, std::stoul("0" + params_));
    switch (c) {
      case 'A':
        row_ -= std::min(row_, n);
        break;
      case 'B':
        for (std::size_t i = 0; i < n; ++i) next_row();
        break;
      case 'C':
        col_ = std::min(width_ - 1, col_ + n);
        break;
      case 'D':
        col_ -= std::min(col_, n);
        break;
      case 'H': {
        const std::size_t semi = params_.find(';');
        const std::size_t r = params_.empty() ? 1 : std::stoul("0" + params_.substr(0, semi));
        const std::size_t k =
            semi == std::string::npos ? 1 : std::stoul("0" + params_.substr(semi + 1));
        row_ = 0;
        for (std::size_t i = 1; i < r; ++i) next_row();
        col_ = k > 0 ? k - 1 : 0;
        break;
      }
      case 'K':
        if (rows_[row_].size() > col_) rows_[row_].resize(col_);
        break;
      case 'J':
        if (rows_[row_].size() > col_) rows_[row_].resize(col_);
        rows_.resize(row_ + 1);
        break;
      default:
        break;
    }
    return true;
  }

  void next_row() {
    if (++row_ == rows_.size()) rows_.emplace_back();
  }

  enum State { kText, kEsc, kCsi, kOsc };
  bool escapes_;
  State state_ = kText;
  std::string params_;
  std::size_t width_;
  std::vector<std::string> rows_;
  std::size_t row_ = 0;
  std::size_t col_ = 0;
};

// The screen a byte stream leaves (drawn by a console host: with `escapes`).
inline std::string shown(std::string_view bytes, std::size_t width, bool escapes = false) {
  Screen s(width, escapes);
  s.put(bytes);
  return s.text();
}

}  // namespace screen
