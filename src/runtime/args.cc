#include "runtime/args.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace rt {
namespace {

// The word table: the words as views, followed by their characters, in one block from malloc.
// malloc answers a lack of memory with null where operator new would throw, and a throw needs
// memory too: a run that starts under a tight memory limit reaches its report.
struct FreeTable {
  void operator()(std::string_view* p) const { std::free(p); }
};
std::unique_ptr<std::string_view[], FreeTable> words;
std::int32_t count = 0;
std::int32_t next_name = 1;  // next word for an open with a blank name

// Builds the table of n words (at least word 0, empty when n is 0); word(i) gives word i.
template <class Word>
bool store(std::size_t n, Word word) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < n; ++i) chars += word(i).size();
  const std::size_t slots = std::max<std::size_t>(n, 1);
  void* block = std::malloc(slots * sizeof(std::string_view) + chars);
  if (block == nullptr) return false;
  auto* views = static_cast<std::string_view*>(block);
  char* at = static_cast<char*>(block) + slots * sizeof(std::string_view);
  for (std::size_t i = 0; i < slots; ++i) {
    const std::string_view w = i < n ? word(i) : std::string_view();
    if (!w.empty()) std::memcpy(at, w.data(), w.size());
    new (views + i) std::string_view(at, w.size());
    at += w.size();
  }
  words.reset(views);
  count = static_cast<std::int32_t>(slots);
  return true;
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
  words.reset();
  count = 0;
  const char* line = platform::current().command_line();
  if (line == nullptr) {
    return store(static_cast<std::size_t>(std::max(argc, 0)), [argv](std::size_t i) {
      return argv[i] != nullptr ? std::string_view(argv[i]) : std::string_view();
    });
  }
  std::vector<std::string> split;
  try {
    split = split_command_line(line, is_lead_byte);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return store(split.size(), [&split](std::size_t i) { return std::string_view(split[i]); });
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
  return count;
}

std::string_view word(std::int32_t n) {
  return words[static_cast<std::size_t>(n)];
}

void fetcharg(std::int32_t n, char* buf, int len, std::int16_t* status) {
  if (n < 0 || n >= argcount()) {
    if (status != nullptr) *status = -1;
    return;
  }
  const std::string_view w = words[static_cast<std::size_t>(n)];
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
  *name = words[static_cast<std::size_t>(next_name++)];
  return true;
}

}  // namespace rt
