#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace {

using platform::Access;
using platform::Err;
using platform::Share;

class Win32Files : public testing::Test {
 protected:
  void SetUp() override {
    char tmp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof tmp, tmp), 0u);
    dir_ = std::string(tmp) + "chunkit_win32_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr));
  }
  void TearDown() override {
    DeleteFileA(path("a").c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string path(const char* name) const { return dir_ + "\\" + name; }

  platform::Platform& os_ = platform::native();
  std::string dir_;
};

TEST_F(Win32Files, CreateIsExclusiveOpenReadSeekCutAndIdentity) {
  const std::string a = path("a");
  EXPECT_EQ(os_.open_existing(a.c_str(), Access::kRead, Share::kDenyNone).err, Err::kNotFound);
  platform::OpenResult w = os_.create_new(a.c_str(), Access::kReadWrite, Share::kDenyNone);
  ASSERT_EQ(w.err, Err::kOk);
  EXPECT_EQ(os_.create_new(a.c_str(), Access::kReadWrite, Share::kDenyNone).err, Err::kExists);
  ASSERT_EQ(os_.write(w.handle, "abcdef", 6).err, Err::kOk);
  ASSERT_EQ(os_.seek(w.handle, 2), Err::kOk);
  ASSERT_EQ(os_.truncate_here(w.handle), Err::kOk);

  platform::OpenResult r = os_.open_existing(a.c_str(), Access::kRead, Share::kDenyNone);
  ASSERT_EQ(r.err, Err::kOk);
  char buf[8];
  platform::IoResult got = os_.read(r.handle, buf, sizeof buf);
  EXPECT_EQ(std::string(buf, got.count), "ab");
  EXPECT_EQ(os_.read(r.handle, buf, sizeof buf).count, 0u);
  EXPECT_NE(os_.write(r.handle, "x", 1).err, Err::kOk);

  // A writer that denies sharing keeps every other opener out.
  platform::OpenResult locked = os_.open_existing(a.c_str(), Access::kRead, Share::kDenyReadWrite);
  EXPECT_EQ(locked.err, Err::kAccessDenied);

  platform::FileId id_w, id_r;
  ASSERT_TRUE(os_.identity(w.handle, &id_w));
  ASSERT_TRUE(os_.identity(r.handle, &id_r));
  EXPECT_EQ(id_w, id_r);
  EXPECT_EQ(os_.close(w.handle), Err::kOk);
  EXPECT_EQ(os_.close(r.handle), Err::kOk);
  EXPECT_TRUE(os_.exists(a.c_str()));
  EXPECT_EQ(os_.remove(a.c_str()), Err::kOk);
  EXPECT_EQ(os_.remove(a.c_str()), Err::kNotFound);
  EXPECT_FALSE(os_.exists(a.c_str()));
}

TEST(Win32Names, PathsDevicesAndTheCommandLine) {
  platform::Platform& os = platform::native();
  EXPECT_TRUE(os.reserves_device_names());
  struct Case {
    const char* path;
    std::size_t start;
  };
  for (const Case& c : {Case{"data.dat", 0}, Case{"dir.d\\out.dat", 6}, Case{"a/b\\c", 4},
                        Case{"c:out.dat", 2}, Case{"c:\\x\\out.dat", 5}, Case{"ab:c", 0}}) {
    EXPECT_EQ(os.last_component(c.path), c.start) << c.path;
  }
  // The null device opens like a file, is no console and has no file identity.
  platform::OpenResult nul = os.open_existing(os.null_device(), Access::kWrite, Share::kDenyNone);
  ASSERT_EQ(nul.err, Err::kOk);
  EXPECT_FALSE(os.is_terminal(nul.handle));
  EXPECT_EQ(os.write(nul.handle, "gone", 4).count, 4u);
  os.close(nul.handle);
  // The command line comes as the one string the system has, not as split words.
  ASSERT_NE(os.command_line(), nullptr);
  EXPECT_STREQ(os.command_line(), GetCommandLineA());
}

}  // namespace
