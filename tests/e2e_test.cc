// End-to-end runs of the real Chunkit_ binary on files built here, with every byte of
// standard output, standard error and the output file compared.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_binary.h"

namespace {

using e2e::Result;
using e2e::TempDir;

const std::string kBin = CHUNKIT_BIN;

std::string num(long long v, int width) {
  std::string s = std::to_string(v);
  return std::string(s.size() < static_cast<std::size_t>(width) ? width - s.size() : 0, ' ') + s;
}

// A record of type 1 (no decoded preface) whose bytes tell record and position apart.
std::string plain_record(int r) {
  std::string rec(4096, '\0');
  for (int k = 0; k < 4096; ++k) rec[k] = static_cast<char>((r * 7 + k * 3) & 0x7F);
  rec[0] = 0x01;
  return rec;
}

// A dated record of type 2: year 99, day 123, 23:59:59, equal status values 123.
std::string dated_record(int r) {
  std::string rec = plain_record(r);
  const unsigned char preface[] = {0x02, 60,   0xFF, 0x99, 0x01, 0x23, 0, 0, 0x23,
                                   0x59, 0x59, 0x31, 0x32, 0x33, 0x31, 0x32, 0x33};
  for (std::size_t i = 0; i < sizeof preface; ++i) rec[i] = static_cast<char>(preface[i]);
  return rec;
}

std::string records(int n) {
  std::string data;
  for (int r = 1; r <= n; ++r) data += r == 5 ? dated_record(r) : plain_record(r);
  return data;
}

// The console text of a list-directed status line (after its carriage control).
std::string status(const std::string& label, int value) { return label + num(value, 11); }

std::string progress(const std::string& text, int rec, int type, const std::string& digits) {
  return " " + text + "rec #" + num(rec, 8) + " type" + num(type, 3) + "  " + digits + "\r";
}
std::string decoding(int rec, int type = 1, const std::string& d = "00000 000000") {
  return progress(" Decoding preface:         ", rec, type, d);
}
std::string copying(int rec, int type = 1, const std::string& d = "00000 000000") {
  return progress(" Copying:                  ", rec, type, d);
}

std::string echo_values(int a, int b, int c, int d) {
  return "\r\n   startrec,  startbyte,     endrec,    endbyte\r\n" + num(a, 11) + num(b, 12) +
         num(c, 12) + num(d, 12);
}

const std::string kStop = "\r\nStop - Program terminated.\r\n\r\n";

std::string exit_message(int irec) {
  return " \r\n-- Exited \"do 100\" loop eof at irec=" + num(irec, 5) + " --\r\n" + kStop;
}

TEST(EndToEnd, TypicalRunCopiesASectionIntoANewName) {
  TempDir dir;
  std::string in = records(20);
  dir.write("in.dat", in);
  dir.write("out.dat", "keep me");
  Result r = e2e::run(dir.path(), {kBin, "in.dat", "out.dat", "3", "10", "7", "100"});

  std::string want = status(" input status=    ", 6) + "\r\n" + status(" output status=   ", 7) +
                     "\r\n Input,output=in.dat out.001 " + "\r\n" +
                     status(" startrec or skipstart status= ", 1) + "\r\n" +
                     status(" startbyte status=", 2) + "\r\n" + status(" endrec status=   ", 1) +
                     "\r\n" + status(" endbyte status=  ", 3) + echo_values(3, 10, 7, 100) +
                     "\r\n" + decoding(1) + decoding(2) + " \r\n" + copying(3) + copying(4) +
                     copying(5, 2, "99123 235959") + copying(6) + copying(7) + exit_message(8);
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.read("out.dat"), "keep me");
  EXPECT_EQ(dir.read("out.001"), in.substr(2 * 4096 + 9, 4096 - 9 + 3 * 4096 + 100));
}

TEST(EndToEnd, UsageText) {
  TempDir dir;
  const std::string rule = " " + std::string(74, '-');
  const std::string want =
      "\r\n" + rule +
      "\r\n COPIES SECTIONS OF THE INPUT FILE TO THE OUTPUT FILE. Command-line format:"
      "\r\n" + std::string("    Chunkit_ input output s#         ").substr(1) +
      "  (skip rec #,        copy the rest)"
      "\r\n     or"
      "\r\n" + std::string("    Chunkit_ input output s#-##      ").substr(1) +
      "  (skip recs # to ##, copy the rest)"
      "\r\n     or"
      "\r\n" + std::string("    Chunkit_ input output s#-## s@-@@").substr(1) +
      "  (skip recs # to ## & @ to @@; @>##)"
      "\r\n     or"
      "\r\n   Chunkit_ input output startrec startbyte endrec endbyte "
      "\r\n       (copy from record,byte to record,byte: each record \xF0 a 4-k block)"
      "\r\n"
      "\r\n  ZEROES (0) CAN BE USED FOR DEFAULT PARAMETERS (first/last rec/byte)"
      "\r\n"
      "\r\n  IF OUTPUT FILE EXISTS, A NEW OUTPUT FILE IS STARTED WITH EXTENSION"
      "\r\n     .001, .002, .003 ...  (instead of the requested extension if any)"
      "\r\n" + rule + "\r\n" + kStop;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{kBin}, {kBin, "?"}, {kBin, "a?b", "out", "1"}}) {
    Result r = e2e::run(dir.path(), args);
    EXPECT_EQ(r.out, want) << args.size();
    EXPECT_EQ(r.status, 0);
  }
}

TEST(EndToEnd, MissingInputFile) {
  TempDir dir;
  Result r = e2e::run(dir.path(), {kBin, "in.dat", "out.dat"});
  EXPECT_EQ(r.out, status(" input status=    ", 6) + "\r\n");
  EXPECT_EQ(r.err.substr(0, 38), "\r\nrun-time error F6416: OPEN(in.dat)\r\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(dir.exists("out.dat"));
}

}  // namespace
