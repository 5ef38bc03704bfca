#include "chunkit_/state.h"

#include <cstring>

#include "chunkit_/when.h"

namespace chunkit {

Mode mode;
Selection selection;
char inname[kNameLen];
char outname[kNameLen];
char argbuf[kArgLen];
std::int32_t iarg;
std::int16_t argstatus;
std::int32_t nargs;
std::int32_t startrec, startbyte, endrec, endbyte;
std::int32_t skipstart, skipend;
std::int32_t irec;
std::int32_t wanted_first, wanted_last;
std::int32_t nextrec;
std::int32_t ieof;
std::int32_t iversion;
RecordReader input(kInUnit);
std::int32_t rectype;
std::int32_t digit[11];
bool dated;
std::int32_t ivstat, ivstatt;
bool badpref;
std::int64_t copied_records;
std::int64_t copied_bytes;

void restart_passes(std::int32_t first_arg) {
  iarg = first_arg;
  argstatus = 0;
  startrec = startbyte = endrec = endbyte = 0;
  skipstart = skipend = 0;
  irec = -1;
  nextrec = 1;
  ieof = 0;
  copied_records = 0;
  copied_bytes = 0;
  when = kNoTime;
}

void reset_state() {
  mode = Mode::kCopy;
  selection = {};
  std::memset(inname, ' ', kNameLen);
  std::memset(outname, ' ', kNameLen);
  std::memset(argbuf, ' ', kArgLen);
  restart_passes(0);
  wanted_first = 1;
  wanted_last = INT32_MAX;
  nargs = 0;
  iversion = 0;
  input = RecordReader(kInUnit);
  rectype = 0;
  std::memset(digit, 0, sizeof digit);
  dated = false;
  ivstat = ivstatt = 0;
  badpref = false;
}

}  // namespace chunkit
