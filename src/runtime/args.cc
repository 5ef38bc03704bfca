#include "runtime/args.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace rt {
namespace {

// The words: those the system split, used where they are, or the words of a command line
// handed over as one string. Taking the system's words needs no memory, so a run under a tight
// memory limit still starts.
const char* const* sys_words = nullptr;
std::int32_t sys_count = 0;
std::vector<std::string> split_words;
std::int32_t next_name = 1;  // next word for an open with a blank name

std::string_view word(std::int32_t n) {
  if (sys_words == nullptr) return split_words[static_cast<std::size_t>(n)];
  return n < sys_count && sys_words[n] != nullptr ? sys_words[n] : "";
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool is_lead_byte(unsigned char b) {
  return platform::current().is_lead_byte(b);
}

}  // namespace

bool args_init(int argc, const char* const* argv) {
  next_name = 1;
  split_words.clear();
  sys_words = nullptr;
  sys_count = 0;
  const char* line = platform::current().command_line();
  if (line == nullptr) {
    sys_words = argv;
    sys_count = std::max(argc, 0);
    return true;
  }
  try {
    split_words = split_command_line(line, is_lead_byte);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

std::vector<std::string> split_command_line(std::string_view text,
                                            bool (*is_lead_byte)(unsigned char)) {
  auto lead = [&](std::size_t i) {
    return is_lead_byte != nullptr && i + 1 < text.size() &&
           is_lead_byte(static_cast<unsigned char>(text[i]));
  };
  std::vector<std::string> out(1);
  std::size_t i = 0;

  // Word 0: a quoted path keeps its backslashes and blanks; otherwise it runs to a blank.
  if (!text.empty() && text[0] == '"') {
    for (i = 1; i < text.size() && text[i] != '"'; ++i) {
      if (lead(i)) out[0] += text[i++];
      out[0] += text[i];
    }
    if (i < text.size()) ++i;  // the closing quote; word 1 may start right after it
  } else {
    for (; i < text.size() && !is_blank(text[i]); ++i) {
      if (lead(i)) out[0] += text[i++];
      out[0] += text[i];
    }
    if (i < text.size()) ++i;  // the blank that ends word 0
  }

  bool quoted = false;  // carried from word to word
  for (;;) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i >= text.size()) break;
    std::string& w = out.emplace_back();
    while (i < text.size()) {
      char c = text[i];
      if (c == '\\') {
        std::size_t k = 0;
        while (i < text.size() && text[i] == '\\') ++k, ++i;
        if (i < text.size() && text[i] == '"') {
          w.append(k / 2, '\\');
          if (k % 2 == 1) {
            w += '"';
            ++i;
          }
          // With an even run the quote is handled below as a delimiter.
        } else {
          w.append(k, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (!quoted) {
          quoted = true;
          ++i;
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
          w += '"';
          i += 2;
          quoted = false;
        } else {
          ++i;
          quoted = false;
        }
        continue;
      }
      if (is_blank(c) && !quoted) {
        ++i;
        break;
      }
      if (lead(i)) w += text[i++];
      w += text[i++];
    }
  }
  return out;
}

std::int32_t argcount() {
  // Word 0 is there even when the system gave no words at all.
  if (sys_words != nullptr) return std::max(sys_count, 1);
  return static_cast<std::int32_t>(split_words.size());
}

void fetcharg(std::int32_t n, char* buf, int len, std::int16_t* status) {
  if (n < 0 || n >= argcount()) {
    if (status != nullptr) *status = -1;
    return;
  }
  const std::string_view w = word(n);
  std::size_t cap = static_cast<std::size_t>(std::max(len, 0));
  std::size_t copied = std::min(cap, w.size());
  std::memcpy(buf, w.data(), copied);
  std::memset(buf + copied, ' ', cap - copied);
  // A length that does not fit 16 bits is capped, never wrapped into -1 ("absent").
  if (status != nullptr)
    *status = static_cast<std::int16_t>(std::min<std::size_t>(w.size(), 32767));
}

bool take_next_name(std::string_view* name) {
  if (next_name > argcount() - 1) return false;
  *name = word(next_name++);
  return true;
}

}  // namespace rt
