// Formatted input: read statements from the console and from character variables (internal
// reads) through layout strings. The console's lines come from the console module.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rt {

// Empties the console input record.
void input_init();

// Read statement. Targets are bound by address and receive their values at read_end, in
// order. Every failure ends the run with a report naming "CON" or "internal".
void read_begin_console(std::string_view layout);
void read_begin_internal(const char* var, std::size_t len, std::string_view layout);
void read_text(char* target, std::size_t len);
void read_int4(std::int32_t* target);
void read_end();

}  // namespace rt
