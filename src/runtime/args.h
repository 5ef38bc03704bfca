// Command-line words: the word table built once at start-up, the argument count and fetch, and
// the separate cursor through which opens with a blank file name take their names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// Builds the word table: by splitting the command line where the platform hands it over as one
// string, else from the words the system split (word 0 is the program's name). Returns false
// when there is no memory for it.
bool args_init(int argc, const char* const* argv);

// Splits a command line handed over as one string into words: word 0 by its own rules, then
// blanks and tabs between words, double quotes and backslash runs as a Windows console
// program sees them. `is_lead_byte`, when given, marks the first byte of a double-byte
// character; such a byte and the one after it always go into the word together.
std::vector<std::string> split_command_line(std::string_view text,
                                            bool (*is_lead_byte)(unsigned char) = nullptr);

// Number of words, word 0 included (at least 1).
std::int32_t argcount();

// Word n, whole (0 <= n < argcount()).
std::string_view word(std::int32_t n);

// Copies word n into buf (len bytes): at most len characters, the rest blank. Stores the
// word's full length in *status (when status is given): the length is capped at 32767 so it
// never reads as -1. When there is no word n, *status is -1 and buf is left untouched.
void fetcharg(std::int32_t n, char* buf, int len, std::int16_t* status);

// The next word for an open with a blank name, advancing the blank-name cursor (which starts
// at word 1). False when no word is left.
bool take_next_name(std::string_view* word);

}  // namespace rt
