#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "run_binary.h"

namespace {

using platform::Access;
using platform::Err;
using platform::Share;

class PosixFiles : public testing::Test {
 protected:
  std::string path(const char* name) const { return tmp_.file(name); }

  platform::Platform& os_ = platform::native();
  e2e::TempDir tmp_;
  const std::string dir_ = tmp_.path();
};

TEST_F(PosixFiles, CreateIsExclusiveAndNeverFollowsALink) {
  const std::string a = path("a");
  platform::OpenResult r = os_.create_new(a.c_str(), Access::kReadWrite, Share::kDenyNone);
  ASSERT_EQ(r.err, Err::kOk);
  EXPECT_EQ(os_.write(r.handle, "hello", 5).count, 5u);
  EXPECT_EQ(os_.close(r.handle), Err::kOk);
  EXPECT_EQ(os_.create_new(a.c_str(), Access::kReadWrite, Share::kDenyNone).err, Err::kExists);

  // A link at the name, even one pointing nowhere, takes the name; its target is not made.
  ASSERT_EQ(::symlink(path("target").c_str(), path("link").c_str()), 0);
  EXPECT_EQ(os_.create_new(path("link").c_str(), Access::kWrite, Share::kDenyNone).err,
            Err::kExists);
  EXPECT_FALSE(os_.exists(path("target").c_str()));
  EXPECT_TRUE(os_.exists(path("link").c_str()));
}

TEST_F(PosixFiles, OpenReadSeekCutAndIdentity) {
  const std::string a = path("a");
  EXPECT_EQ(os_.open_existing(a.c_str(), Access::kRead, Share::kDenyNone).err, Err::kNotFound);
  for (const Access access : {Access::kRead, Access::kWrite})
    EXPECT_EQ(os_.open_existing(dir_.c_str(), access, Share::kDenyNone).err, Err::kIsFolder);
  platform::OpenResult w = os_.create_new(a.c_str(), Access::kReadWrite, Share::kDenyNone);
  ASSERT_EQ(w.err, Err::kOk);
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

  platform::FileId id_w, id_r;
  ASSERT_TRUE(os_.identity(w.handle, &id_w));
  ASSERT_TRUE(os_.identity(r.handle, &id_r));
  EXPECT_EQ(id_w, id_r);
  os_.close(w.handle);
  os_.close(r.handle);
  EXPECT_EQ(os_.remove(a.c_str()), Err::kOk);
  EXPECT_EQ(os_.remove(a.c_str()), Err::kNotFound);
}

}  // namespace
