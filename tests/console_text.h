// The console text of a copy, built for comparisons: list-directed numbers, the status lines,
// the prompts, the echo of the copy values, the progress lines and the messages that end a run.
#pragma once

#include <string>
#include <vector>

namespace text {

// v right-aligned in `width` columns, as a list-directed value or an iN field shows it.
inline std::string num(long long v, int width) {
  std::string s = std::to_string(v);
  return std::string(s.size() < static_cast<std::size_t>(width) ? width - s.size() : 0, ' ') + s;
}

// The labels of the status lines, which show the status of reading an argument: its length, or
// -1 when there was none.
inline const std::string kInput = " input status=    ";
inline const std::string kOutput = " output status=   ";
inline const std::string kStartRec = " startrec or skipstart status= ";
inline const std::string kStartByte = " startbyte status=";
inline const std::string kEndRec = " endrec status=   ";
inline const std::string kEndByte = " endbyte status=  ";

// A status line after its carriage control.
inline std::string status(const std::string& label, int value) {
  return label + num(value, 11);
}

// The status lines of the four copy values read from arguments of these lengths, one a line.
inline std::string value_statuses(const std::vector<int>& lengths) {
  const std::string* labels[] = {&kStartRec, &kStartByte, &kEndRec, &kEndByte};
  std::string s;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    s += (i > 0 ? "\r\n" : "") + status(*labels[i], lengths[i]);
  }
  return s;
}

// The prompts for the copy values, each on a line of its own; a record number shows in five
// columns, or as ***** when it does not fit.
inline const std::string kFirstRecordPrompt = "\r\nEnter the first record to be copied: ";
inline const std::string kLastRecordPrompt = "\r\nEnter the last record to be copied: ";
inline std::string byte_prompt(const std::string& which, int rec) {
  return "\r\nEnter the " + which + " byte of record" + (rec > 99999 ? "*****" : num(rec, 5)) +
         " to be copied: ";
}

// The echo of the copy values, on two lines of their own.
inline std::string echo_values(int startrec, int startbyte, int endrec, int endbyte) {
  return "\r\n   startrec,  startbyte,     endrec,    endbyte\r\n" + num(startrec, 11) +
         num(startbyte, 12) + num(endrec, 12) + num(endbyte, 12);
}

// A progress line: the record, its type and the digits of its preface, ended by a carriage
// return; "Decoding" for a record passed by, "Copying" for one copied.
inline std::string progress(const std::string& what, int rec, int type, const std::string& digits) {
  return " " + what + "rec #" + num(rec, 8) + " type" + num(type, 3) + "  " + digits + "\r";
}
inline std::string decoding(int rec, int type = 1, const std::string& digits = "00000 000000") {
  return progress(" Decoding preface:         ", rec, type, digits);
}
inline std::string copying(int rec, int type = 1, const std::string& digits = "00000 000000") {
  return progress(" Copying:                  ", rec, type, digits);
}

// The ends of a run: the stop message, and the messages of a copy that ended at its last
// record (exit_message) or at the end of the file (eof_message), each with the record number
// it had reached.
inline const std::string kStop = "\r\nStop - Program terminated.\r\n\r\n";
inline std::string exit_message(int irec) {
  return " \r\n-- Exited \"do 100\" loop eof at irec=" + num(irec, 5) + " --\r\n" + kStop;
}
inline std::string eof_message(int irec) {
  return " \r\n-- EOF at irec=" + num(irec, 5) + " --\r\n" + kStop;
}

}  // namespace text
