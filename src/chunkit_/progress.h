// A sign of life while a long batch copy runs, for a user at a terminal.
#pragma once

namespace chunkit {

// When standard error is a terminal: from a second after this call on, one line there is
// rewritten about twice a second, between the blocks the input reads, with the records and bytes
// written, the rate and, when the input's size is known, the record reached of the section's
// last and the time left. Nothing otherwise.
void progress_begin();

// Clears the line, if it was shown, and stops it.
void progress_end();

}  // namespace chunkit
