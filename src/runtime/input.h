// Formatted input: read statements from the console and from character variables (internal
// reads) through layout strings. The console's lines come from the console module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/status.h"

namespace rt {

// Empties the console input record.
void input_init();

// Read statement. Targets are bound by address and receive their values at read_end, in
// order. read_end returns the first failure (kRead, naming "CON" or "internal"; a failed console
// write before the read, or an interrupt, as they came); the statement reads nothing after it.
void read_begin_console(std::string_view layout);
void read_begin_internal(const char* var, std::size_t len, std::string_view layout);
void read_text(char* target, std::size_t len);
void read_int4(std::int32_t* target);
Status read_end();

// The value of text read as one I field `width` characters wide, by the same rules as a read
// statement, when that field reads without an error, holds a digit and takes all of text (what
// lies past the field or after a comma may only be blank); nothing otherwise.
std::optional<std::int32_t> whole_number(std::string_view text, std::size_t width);

}  // namespace rt
