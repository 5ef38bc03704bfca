// The state of a run: static, alive from start to stop, shared by the main routine, the
// parameter passes, the output naming, the copy loop and the preface decoder.
#pragma once

#include <cstdint>

#include "chunkit_/mode.h"
#include "chunkit_/records.h"
#include "runtime/args.h"
#include "runtime/console.h"

namespace chunkit {

extern Mode mode;            // what this run makes of the copy
extern Selection selection;  // what the modes for programs keep of the section
// File names, blank-padded: as long as the longest name an open takes.
inline constexpr int kNameLen = static_cast<int>(rt::kNameMax);
inline constexpr int kArgLen = 80;  // the argument buffer, blank-padded
inline constexpr std::int32_t kInUnit = 1;
inline constexpr std::int32_t kOutUnit = 30;
using rt::kConsoleUnit;
inline constexpr std::int32_t kReportUnit = 20;

extern char inname[kNameLen];
extern char outname[kNameLen];
extern char argbuf[kArgLen];

extern std::int32_t iarg;       // index of the last argument fetched
extern std::int16_t argstatus;  // its length, or -1 when absent
extern std::int32_t nargs;      // arguments after the program's name

extern std::int32_t startrec, startbyte, endrec, endbyte;
extern std::int32_t skipstart, skipend;
extern std::int32_t irec;      // record in hand; -1 until the first pass begins
// The records a pass of a mode for programs takes at most, a piece of a split; 1 and the last
// record number otherwise.
extern std::int32_t wanted_first, wanted_last;
extern std::int32_t nextrec;   // number of the next record the input delivers
extern std::int32_t ieof;      // 1 once a read of the input met the end of the file
extern std::int32_t iversion;  // failed attempts to create the output file

extern RecordReader input;  // the input's records

extern std::int32_t rectype;          // record type from the preface decoder
extern std::int32_t digit[11];        // preface digits 1 to 11
extern bool dated;                    // the preface carries a date and a time ...
extern std::int32_t ivstat, ivstatt;  // ... and its two status values
extern bool badpref;                  // a type 2 or 3 preface lacks its dated mark

extern std::int64_t copied_records;  // records written wholly or in part
extern std::int64_t copied_bytes;    // bytes written to the output

// Puts every variable back to its value at the start of a run.
void reset_state();

// Puts the parameters and the place in the records back to their values before the first pass,
// with the arguments taken again from the one after `first_arg`.
void restart_passes(std::int32_t first_arg);

// Fetches the next argument into buf: iarg + 1, then the fetch with its status.
template <int N>
void next_arg(char (&buf)[N]) {
  ++iarg;
  rt::fetcharg(iarg, buf, N, &argstatus);
}

}  // namespace chunkit
