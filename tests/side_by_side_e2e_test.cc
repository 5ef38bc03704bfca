// The Linux binary and the Windows one under Wine, side by side: the same command lines on the
// same files give the same console bytes, reports, exit status and files, except where the two
// systems are known to differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "run_binary.h"

namespace {

using e2e::Result;
using e2e::TempDir;

// Where two byte strings first differ, for a failure message.
std::string first_difference(const std::string& a, const std::string& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return std::to_string(a.size()) + " vs " + std::to_string(b.size()) +
         " bytes, first difference at byte " + std::to_string(at.first - a.begin());
}

TEST(SideBySideEndToEnd, LinuxAndWindowsWriteTheSameBytes) {
  if (!e2e::under_wine()) GTEST_SKIP() << "needs the Windows build: CHUNKIT_EXE and CHUNKIT_WINE";

  // The files every run starts with: records of every preface kind ending in a short record
  // (in.dat, and big.dat past the 1 MiB block), a final record padded with 0xFF, a dated
  // preface whose status values differ and a bad preface, an empty file, a taken output name,
  // one that cannot be numbered, a folder, and the three-day recording.
  TempDir made;
  e2e::run(made.path(), {MKRECORDS_BIN, "in.dat", "12", "1000", "7"});
  e2e::run(made.path(), {MKRECORDS_BIN, "big.dat", "300", "2000", "3"});
  std::string pad = e2e::type1_records(3);
  std::fill(pad.end() - 3396, pad.end(), '\xFF');
  std::string odd = e2e::type1_records(4);
  e2e::set_bytes(odd, 2, e2e::kDated + "1=03 12=31 13=32 14=33 15=31 16=32 17=34");
  e2e::set_bytes(odd, 3, "1=02 2=3C 3=00");
  const std::map<std::string, std::string> files = {{"in.dat", made.read("in.dat")},
                                                    {"big.dat", made.read("big.dat")},
                                                    {"pad.dat", pad},
                                                    {"odd.dat", odd},
                                                    {"days.dat", e2e::three_day_file()},
                                                    {"empty.dat", ""},
                                                    {"out.dat", "keep"},
                                                    {"longername.dat", "keep"}};

  // A row the README names as different on Windows is marked with the run-time error each
  // side ends with ("" for a normal end), or with where the Windows run puts the output file
  // that the Linux run creates under the name given.
  struct Row {
    std::vector<std::string> args;
    std::string input = "";  // standard input
    std::string linux_end = "", windows_end = "";
    std::string moved = "";
  };
  const Row rows[] = {
      {{"in.dat", "c.dat", "0", "0", "0", "0"}},
      {{"big.dat", "c.dat", "0", "0", "0", "0"}},
      {{"in.dat", "c.dat", "s5"}},
      {{"in.dat", "c.dat", "s5-10"}},
      {{"in.dat", "c.dat", "s-3"}},
      {{"in.dat", "c.dat", "S2-4", "s7"}},
      {{"in.dat", "c.dat", "s2-3", "s5", "s8-9"}},
      {{"in.dat", "c.dat", "s2", "x", "s9"}},
      {{"in.dat", "c.dat", "1", "0", "2", "0", "", "", "5", "0", "6", "0"}},
      {{"in.dat", "c.dat", "1", "1", "1", "10", "x", "0", "0", "2", "0"}},
      {{"in.dat", "c.dat", "1", "1", "-1", "0", "5", "1", "6", "10"}},
      {{"in.dat", "c.dat", "1", "0", "3", "0", "s5", "s6"}},
      {{"in.dat", "c.dat", "3", "10", "7", "100"}},
      {{"in.dat", "c.dat", "2", "5", "2", "9"}},
      {{"in.dat", "c.dat", "5", "0", "3", "0"}},
      {{"in.dat", "c.dat", "13", "100", "13", "900"}},
      {{"in.dat", "c.dat", "12", "4000", "0", "0"}},
      {{"in.dat", "c.dat", "13", "1001", "0", "0"}},
      {{"big.dat", "NUL", "200", "7", "300", "3000"}},
      {{"pad.dat", "c.dat", "0", "0", "0", "0"}},
      {{"pad.dat", "c.dat", "3", "600", "3", "800"}},
      {{"empty.dat", "c.dat", "0", "0", "0", "0"}},
      {{"odd.dat", "c.dat", "0", "0", "0", "0"}},
      {{"in.dat", "NUL", "0", "0", "0", "0"}},
      {{"in.dat", "nul", "s3-5"}},
      {{"in.dat", "out.dat", "2", "0", "4", "0"}},
      {{"in.dat", "longername.dat", "0", "0", "0", "0"}},
      {{"in.dat", "ERR", "1", "0", "1", "0"}},
      {{"in.dat", "USER", "1", "0", "1", "0"}},
      {{"in.dat", "nodir/out.dat", "0", "0", "0", "0"}},
      {{"missing.dat", "c.dat", "0", "0", "0", "0"}},
      // Prompts answered through the pipe: empty lines, a number form, a bad number, a skip
      // range, and the end of the input.
      {{"in.dat"}, "c.dat\n\n\n\n\n"},
      {{"in.dat"}, "out.dat\n2\n16#64\n3\n\n"},
      {{"in.dat", "c.dat", "2"}, "\n3x\n"},
      {{"in.dat", "c.dat"}, "s2-4\n"},
      {{"in.dat"}, "c.dat\r\n1\r\n0\r\n2\r\n0\r\n"},
      {{"in.dat", "c.dat", "13", "800"}, "0\n"},
      // Number forms.
      {{"in.dat", "c.dat", "16#A", "2#101", "8#15", "16#1F"}},
      {{"in.dat", "c.dat", " 2 ", "1,9", "1 1", "#FF"}},
      {{"in.dat", "c.dat", "3", "123456", "4", "5000"}},
      {{"in.dat", "c.dat", "3x", "0", "0", "0"}},
      // Usage text, version, and the modes for programs.
      {{}},
      {{"?"}},
      {{"a?b", "out", "1"}},
      {{"--help"}},
      {{"-h", "in.dat", "c.dat"}},
      {{"--version"}},
      {{"--list", "in.dat"}},
      {{"--list", "odd.dat"}},
      {{"--list", "pad.dat", "3", "0", "0", "0"}},
      {{"--list", "big.dat", "250", "0", "260", "0", "s255"}},
      {{"--list", "empty.dat"}},
      {{"--batch", "in.dat", "b.dat", "s2-4", "s7"}},
      {{"--batch", "odd.dat", "out.dat"}},
      {{"--batch", "big.dat", "NUL", "2", "100", "290", "200"}},
      {{"--batch", "in.dat", "b.dat", "1", "0", "3x"}},
      {{"--list"}},
      {{"--bat", "in.dat", "b.dat"}},
      {{"--batch", "in.dat", "b.dat", "s5", "s3"}},
      {{"--batch", "missing.dat", "b.dat"}},
      {{"--list", "--", "--help"}},
      {{"--list", "dir.d"}},
      {{"--batch", "in.dat", "-", "2", "0", "3", "0"}},
      {{"--batch", "in.dat", "3", "0", "5", "0"}},
      {{"--list", "in.dat", "3\tx\\"}},
      {{"--list", "--from", "80-001", "--to", "2000-01-01T12:00", "big.dat", "3", "0", "40", "0"}},
      {{"--batch", "--type", "2,3,-98", "--from", "99-100", "in.dat", "b.dat"}},
      {{"--list", "--from", "99-366", "in.dat"}},
      {{"--summary", "big.dat"}},
      {{"--summary", "days.dat"}},
      {{"--list", "--from", "00-001", "--to", "00-002", "days.dat"}},
      {{"--batch", "--from", "2000-01-01T01:00", "days.dat", "b.dat", "s9-10"}},
      {{"--summary", "--gap", "60", "--type", "2,3", "odd.dat"}},
      {{"--split", "day", "days.dat", "d-%Y-%j.dat"}},
      {{"--split", "5", "--type", "1,2", "big.dat", "p%n", "s9-40"}},
      {{"--split", "400", "big.dat", "out.dat"}},
      {{"dir.d", "c.dat", "0", "0", "0", "0"}},
      // Device names, paths and folders, as the README describes them for Windows.
      {{"in.dat", "PRN", "0", "0", "0", "0"}, "", "", "F6202: OPEN(PRN)"},
      {{"in.dat", "con.txt", "1", "0", "1", "0"}, "", "", "F6202: OPEN(con.txt)"},
      {{"in.dat", "CON", "1", "0", "1", "0"}, "", "", "F6202: OPEN(CON)"},
      {{"nul.dat", "c.dat", "0", "0", "0", "0"}, "", "F6416: OPEN(nul.dat)", ""},
      {{"in.dat", "dir.d\\c.dat", "1", "0", "2", "0"}, "", "", "", "dir.d/c.dat"},
      {{"in.dat", "Z:c.dat", "1", "0", "2", "0"}, "", "", "", "c.dat"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args) + " " + ::testing::PrintToString(row.input));
    TempDir posix, windows;
    for (const TempDir* dir : {&posix, &windows}) {
      for (const auto& [name, data] : files) dir->write(name, data);
      dir->mkdir("dir.d");
    }
    const auto before = posix.contents();
    const Result p = e2e::run(posix.path(), e2e::concat({CHUNKIT_BIN}, row.args), row.input);
    const Result w = windows.run(row.args, row.input);
    const auto p_files = posix.contents();
    auto w_files = windows.contents();

    if (!row.linux_end.empty() || !row.windows_end.empty()) {
      // Each side ends as marked, a side with an error leaves the folder as it was, and the
      // two show the same console text up to where one of them ends.
      for (const auto& [r, files, end] : {std::tie(p, p_files, row.linux_end),
                                          std::tie(w, std::as_const(w_files), row.windows_end)}) {
        EXPECT_EQ(r.status, end.empty() ? 0 : 1) << end;
        if (end.empty()) {
          EXPECT_EQ(r.err, "");
        } else {
          EXPECT_EQ(r.err.rfind("\r\nrun-time error " + end + "\r\n- ", 0), 0u) << r.err;
          EXPECT_TRUE(files == before) << end;
        }
      }
      const auto& [shorter, longer] =
          std::minmax(p.out, w.out, [](auto& a, auto& b) { return a.size() < b.size(); });
      EXPECT_EQ(longer.rfind(shorter, 0), 0u) << p.out << "\n" << w.out;
      continue;
    }
    if (auto file = w_files.extract(row.moved)) {
      file.key() = row.args[1];
      w_files.insert(std::move(file));
    }
    EXPECT_EQ(p.out, w.out);
    EXPECT_EQ(p.err, w.err);
    EXPECT_EQ(p.status, w.status);
    EXPECT_EQ(p.signal, w.signal);
    std::set<std::string> p_names, w_names;
    for (const auto& [name, data] : p_files) p_names.insert(name);
    for (const auto& [name, data] : w_files) w_names.insert(name);
    EXPECT_EQ(p_names, w_names);
    for (const auto& [name, data] : p_files) {
      if (w_files.count(name) != 0 && data != w_files.at(name)) {
        ADD_FAILURE() << name << ": " << first_difference(data, w_files.at(name));
      }
    }
  }
}

}  // namespace
