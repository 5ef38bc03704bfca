#include "chunkit_/naming.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chunkit_/state.h"
#include "ends.h"
#include "fake_platform.h"
#include "runtime/units.h"
#include "wrappers.h"

namespace {

// Starts a run whose output name is `name`; the files in `existing` are already there.
void start(fake::FakePlatform& fp, const std::string& name,
           const std::vector<std::string>& existing, bool windows = false) {
  fp.windows_names = windows;
  for (const std::string& f : existing) fp.put(f, "old");
  fake::start({"in.dat", name});
  chunkit::reset_state();
  std::memcpy(chunkit::outname, name.data(), name.size());
}

std::string outname() {
  std::string s(chunkit::outname, chunkit::kNameLen);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}

TEST(Naming, CreatesFirstFreeName) {
  struct Case {
    std::string given;
    std::vector<std::string> existing;
    std::string created;
    int failures;
    bool windows = false;
  };
  const std::string folder(250, 'f');
  const std::vector<Case> cases = {
      {"data.dat", {"data.001"}, "data.dat", 0},
      {"data.dat", {"data.dat"}, "data.001", 1},
      {"data.dat", {"data.dat", "data.001", "data.002"}, "data.003", 3},
      {"report.txt", {"report.txt"}, "report.001", 1},
      {"data", {"data"}, "data.001", 1},
      {"a.b", {"a.b", "a.001"}, "a.002", 2},
      {"data.dat1", {"data.dat1", "data.0011"}, "data.0021", 2},
      {"ab.cdefgh", {"ab.cdefgh", "ab.001fgh"}, "ab.002fgh", 2},
      {"a.tar.gz", {"a.tar.gz", "a.001.gz"}, "a.002.gz", 2},
      {"my file.dat", {"my file.dat", "my.001e.dat"}, "my.002e.dat", 2},
      {"dir\\data.dat", {"dir\\data.dat", "dir\\data.001"}, "dir\\data.002", 2},
      {".hidden", {".hidden", ".001den"}, ".002den", 2},
      // In a path the number goes into the last component.
      {"dir.d/out.dat", {"dir.d/out.dat"}, "dir.d/out.001", 1},
      {"./out.dat", {"./out.dat"}, "./out.001", 1},
      {"../x/out.dat", {"../x/out.dat"}, "../x/out.001", 1},
      {"longfolder/data.dat", {"longfolder/data.dat"}, "longfolder/data.001", 1},
      {"a/b/data", {"a/b/data"}, "a/b/data.001", 1},
      {folder + "/x.dat", {folder + "/x.dat"}, folder + "/x.001", 1},
      {"dir.d\\out.dat", {"dir.d\\out.dat"}, "dir.d\\out.001", 1, true},
      {"dir.d/out.dat", {"dir.d/out.dat"}, "dir.d/out.001", 1, true},
      {"c:out.dat", {"c:out.dat"}, "c:out.001", 1, true},
      {"c:.dat", {"c:.dat"}, "c:.001", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    fake::FakePlatform fp;
    start(fp, c.given, c.existing, c.windows);
    ASSERT_TRUE(chunkit::open_output().ok());
    EXPECT_EQ(outname(), c.created);
    EXPECT_EQ(chunkit::iversion, c.failures);
    EXPECT_EQ(fp.files.size(), c.existing.size() + 1);
    EXPECT_EQ(fp.contents(c.created), "");
    for (const std::string& f : c.existing) EXPECT_EQ(fp.contents(f), "old");
    EXPECT_EQ(fp.out + fp.err, "");
  }
}

// Only a taken name leads to the next number; any other failure would meet every number too, so
// the run ends at once with the report of the name just tried, and nothing is created.
TEST(Naming, FailureOtherThanATakenNameEndsAtOnce) {
  using platform::Err;
  const struct {
    const char* given;
    std::vector<std::string> existing;
    const char* failing;
    Err error;
    const char* report;
  } cases[] = {
      {"nodir/out.dat", {}, "nodir/out.dat", Err::kNotFound, "F6416: OPEN(nodir/out.dat)"},
      {"ro/out.dat", {}, "ro/out.dat", Err::kAccessDenied, "F6414: OPEN(ro/out.dat)"},
      {"out.dat", {}, "out.dat", Err::kDiskFull, "F6422: OPEN(out.dat)"},
      {"o?t", {}, "o?t", Err::kInvalid, "F6412: OPEN(o?t)"},
      {"data.dat", {"data.dat"}, "data.001", Err::kAccessDenied, "F6414: OPEN(data.001)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    fake::FakePlatform fp;
    fake::OpenFails fails(fp, {{c.failing, c.error}});
    start(fp, c.given, c.existing);
    EXPECT_EQ(fake::status_of_end(chunkit::open_output()), 1);
    EXPECT_EQ(fp.err.rfind(std::string("\r\nrun-time error ") + c.report + "\r\n- ", 0), 0u)
        << fp.err;
    EXPECT_EQ(fp.files.size(), c.existing.size());
  }
}

TEST(Naming, BlankNameTakesFirstWordThenNumbers) {
  for (bool first_taken : {false, true}) {
    fake::FakePlatform fp;
    fp.put("in.dat", "input");
    if (first_taken) fp.put(".001", "old");
    fake::start({"in.dat"});
    chunkit::reset_state();
    rt::OpenSpec in;
    in.status = "OLD";
    in.form = "binary";
    in.access = "read";
    ASSERT_TRUE(rt::open_unit(chunkit::kInUnit, "in.dat", in).ok());
    ASSERT_TRUE(chunkit::open_output().ok());
    EXPECT_EQ(outname(), first_taken ? ".002" : ".001");
    EXPECT_EQ(fp.contents("in.dat"), "input");
    EXPECT_EQ(fp.out + fp.err, "");
  }
}

// When no name is left to try, the run ends with the report of the last failed open and
// nothing is created.
TEST(Naming, EndsRunWhenNoNameLeft) {
  struct Case {
    std::string given;
    std::vector<std::string> existing;
    std::string report;
  };
  std::vector<std::string> all_numbers = {"data.dat"};
  for (int n = 1; n <= 999; ++n) {
    char ext[8];
    std::snprintf(ext, sizeof ext, ".%03d", n);
    all_numbers.push_back("data" + std::string(ext));
  }
  const std::vector<Case> cases = {
      {"longername.dat", {"longername.dat"}, "F6415: OPEN(longername.dat)"},
      {"data.dat", all_numbers, "F6415: OPEN(data.999)"},
      {"folder/longername.dat", {"folder/longername.dat"}, "F6415: OPEN(folder/longername.dat)"},
      // The digits would run past the end of the longest name.
      {std::string(254, 'f') + "/ab.c",
       {std::string(254, 'f') + "/ab.c"},
       "F6415: OPEN(" + std::string(254, 'f') + "/ab.c)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    fake::FakePlatform fp;
    start(fp, c.given, c.existing);
    EXPECT_EQ(fake::status_of_end(chunkit::open_output()), 1);
    EXPECT_EQ(fp.err.rfind("\r\nrun-time error " + c.report + "\r\n- ", 0), 0u) << fp.err;
    EXPECT_EQ(fp.files.size(), c.existing.size());
    EXPECT_EQ(fp.out, "");
  }
}

}  // namespace
