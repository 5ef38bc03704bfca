// What a run makes of the copy.
#pragma once

namespace chunkit {

// The copy with its console, or one of the two modes for programs, which show no console text:
// a listing of the records a copy would copy, or the copy itself, reported in one line at its
// end.
enum class Mode { kCopy, kList, kBatch };

}  // namespace chunkit
