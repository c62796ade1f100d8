#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "os/File.h"
#include "os/FileFaults.h"
#include "os/OsError.h"
#include "os/TempFile.h"
#include "platform/os/OsTestSupport.h"

namespace {

using os::Access;
using os::Disposition;
using os::File;
using os::Share;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class FileTest : public ::testing::Test {
 protected:
  testsupport::ScratchDir dir;
  std::string path = dir / "data.vex";

  File Create() {
    File f;
    EXPECT_TRUE(f.Open(path, Access::ReadWrite, Share::DenyNone, Disposition::CreateAlways));
    return f;
  }
};

TEST_F(FileTest, ReadPastTheEndSucceedsAndLeavesTheRestOfTheBufferUntouched) {
  File f = Create();
  ASSERT_TRUE(f.Write("hello", 5, 0));
  char buffer[10];
  std::memset(buffer, 'x', sizeof buffer);
  size_t got = 99;
  ASSERT_TRUE(f.Read(buffer, sizeof buffer, 2, &got));
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(buffer, 10), "lloxxxxxxx");
  ASSERT_TRUE(f.Read(buffer, sizeof buffer, 1000, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(buffer[0], 'l');
}

TEST_F(FileTest, PositionsBeyondFourGibibytesAreHonoured) {
  File f = Create();
  const int64_t far = (int64_t{5} << 30) + 7;
  ASSERT_TRUE(f.Write("tail", 4, far));
  int64_t size = 0;
  ASSERT_TRUE(f.GetSize(size));
  EXPECT_EQ(size, far + 4);
  char buffer[4] = {};
  ASSERT_TRUE(f.Read(buffer, 4, far));
  EXPECT_EQ(std::string(buffer, 4), "tail");
}

TEST_F(FileTest, SetSizeGrowsWithZerosAndShrinks) {
  File f = Create();
  ASSERT_TRUE(f.Write("abc", 3, 0));
  ASSERT_TRUE(f.SetSize(8192));
  int64_t size = 0;
  ASSERT_TRUE(f.GetSize(size));
  EXPECT_EQ(size, 8192);
  char buffer[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  ASSERT_TRUE(f.Read(buffer, 8, 8184));
  EXPECT_EQ(std::string(buffer, 8), std::string(8, '\0'));
  ASSERT_TRUE(f.SetSize(2));
  ASSERT_TRUE(f.Flush());
  EXPECT_EQ(Slurp(path), "ab");
  EXPECT_FALSE(f.SetSize(-1));
  EXPECT_EQ(os::LastError(), EINVAL);
}

TEST_F(FileTest, AccessModeIsEnforcedAndAClosedHandleRefusesEverything) {
  Create().Close();
  char byte = 0;
  File reader;
  ASSERT_TRUE(reader.Open(path, Access::Read, Share::DenyNone));
  EXPECT_FALSE(reader.Write("x", 1, 0));
  EXPECT_EQ(os::LastError(), EBADF);
  EXPECT_FALSE(reader.SetSize(10));
  File writer;
  ASSERT_TRUE(writer.Open(path, Access::Write, Share::DenyNone));
  EXPECT_FALSE(writer.Read(&byte, 1, 0));
  EXPECT_EQ(os::LastError(), EBADF);
  ASSERT_TRUE(writer.Close());
  EXPECT_FALSE(writer.Write("x", 1, 0));
  EXPECT_FALSE(writer.Flush());
  EXPECT_FALSE(writer.Close());
  EXPECT_EQ(os::LastError(), EBADF);
}

TEST_F(FileTest, OpeningAMissingFileFailsWithItsErrorCodeAndText) {
  File f;
  EXPECT_FALSE(f.Open(dir / "missing.vex", Access::Read, Share::DenyNone));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(os::LastError(), ENOENT);
  EXPECT_EQ(os::ErrorText(ENOENT), "No such file or directory");
  EXPECT_FALSE(f.Open(dir.Path(), Access::Read, Share::DenyNone));
  EXPECT_EQ(os::LastError(), EISDIR);
}

struct ShareCase {
  Access firstAccess;
  Share firstShare;
  Access secondAccess;
  Share secondShare;
  bool secondOpens;
};

TEST_F(FileTest, ShareModesDecideWhetherASecondHandleMayOpen) {
  const ShareCase cases[] = {
      {Access::ReadWrite, Share::Exclusive, Access::Read, Share::DenyNone, false},
      {Access::Read, Share::DenyNone, Access::ReadWrite, Share::Exclusive, false},
      {Access::Read, Share::DenyNone, Access::Read, Share::Exclusive, false},
      {Access::Read, Share::DenyWrite, Access::Read, Share::DenyNone, true},
      {Access::Read, Share::DenyWrite, Access::ReadWrite, Share::DenyNone, false},
      {Access::ReadWrite, Share::DenyNone, Access::Read, Share::DenyWrite, false},
      {Access::Read, Share::DenyNone, Access::Read, Share::DenyWrite, true},
      {Access::Write, Share::DenyRead, Access::Read, Share::DenyNone, false},
      {Access::Write, Share::DenyRead, Access::Write, Share::DenyNone, true},
      {Access::ReadWrite, Share::DenyNone, Access::ReadWrite, Share::DenyNone, true},
  };
  Create().Close();
  int index = 0;
  for (const ShareCase& c : cases) {
    SCOPED_TRACE("case " + std::to_string(index++));
    File first, second;
    ASSERT_TRUE(first.Open(path, c.firstAccess, c.firstShare));
    EXPECT_EQ(second.Open(path, c.secondAccess, c.secondShare), c.secondOpens);
    if (!c.secondOpens) {
      EXPECT_EQ(os::LastError(), os::kSharingViolation);
      // The refused handle left nothing behind, and the first one's close frees the file.
      ASSERT_TRUE(first.Close());
      EXPECT_TRUE(second.Open(path, c.secondAccess, c.secondShare));
    }
  }
}

TEST_F(FileTest, CreateAlwaysEmptiesAFileOnlyWhenNoOtherHandleForbidsIt) {
  File keeper = Create();
  ASSERT_TRUE(keeper.Write("precious", 8, 0));
  File exclusive;
  ASSERT_TRUE(keeper.Close());
  ASSERT_TRUE(exclusive.Open(path, Access::Read, Share::Exclusive));
  File creator;
  EXPECT_FALSE(creator.Open(path, Access::ReadWrite, Share::Exclusive, Disposition::CreateAlways));
  EXPECT_EQ(Slurp(path), "precious");
  ASSERT_TRUE(exclusive.Close());
  ASSERT_TRUE(creator.Open(path, Access::ReadWrite, Share::Exclusive, Disposition::CreateAlways));
  EXPECT_EQ(Slurp(path), "");
}

TEST_F(FileTest, DeleteAndRenameRefuseAnOpenFileAndRenameNeverReplaces) {
  File f = Create();
  const std::string moved = dir / "moved.vex";
  EXPECT_FALSE(File::Delete(path));
  EXPECT_EQ(os::LastError(), os::kSharingViolation);
  EXPECT_FALSE(File::Rename(path, moved));
  EXPECT_EQ(os::LastError(), os::kSharingViolation);
  ASSERT_TRUE(f.Close());

  std::ofstream(moved) << "other";
  EXPECT_FALSE(File::Rename(path, moved));
  EXPECT_EQ(os::LastError(), EEXIST);
  EXPECT_EQ(Slurp(moved), "other");
  ASSERT_TRUE(File::Delete(moved));
  ASSERT_TRUE(File::Rename(path, moved));
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_TRUE(File::Delete(moved));
  EXPECT_FALSE(File::Delete(moved));
  EXPECT_EQ(os::LastError(), ENOENT);
}

TEST_F(FileTest, ReplaceMovesOverTheTargetOnlyWhileNeitherFileIsOpen) {
  const std::string target = dir / "target.vex";
  std::ofstream(path) << "new";
  std::ofstream(target) << "old";
  for (const std::string& open : {path, target}) {
    File holder;
    ASSERT_TRUE(holder.Open(open, Access::Read, Share::DenyNone));
    EXPECT_FALSE(File::Replace(path, target)) << open;
    EXPECT_EQ(os::LastError(), os::kSharingViolation);
    EXPECT_EQ(Slurp(path), "new");
    EXPECT_EQ(Slurp(target), "old");
  }
  os::faults::FailNextReplace(EIO);
  EXPECT_FALSE(File::Replace(path, target));
  EXPECT_EQ(os::LastError(), EIO);
  EXPECT_EQ(Slurp(target), "old");

  ASSERT_TRUE(File::Replace(path, target));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Slurp(target), "new");
  // One file under both names is left as it is; a missing source changes
  // nothing; a missing target is simply created.
  ASSERT_TRUE(File::Replace(target, target));
  EXPECT_EQ(Slurp(target), "new");
  EXPECT_FALSE(File::Replace(path, target));
  EXPECT_EQ(os::LastError(), ENOENT);
  EXPECT_EQ(Slurp(target), "new");
  ASSERT_TRUE(File::Replace(target, path));
  EXPECT_EQ(Slurp(path), "new");
}

TEST_F(FileTest, ReadOnlyMeansNoWriteBitEvenForTheSuperuser) {
  Create().Close();
  EXPECT_FALSE(File::IsReadOnly(path));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(File::IsReadOnly(path));
  EXPECT_FALSE(File::IsReadOnly(dir / "missing"));
  EXPECT_EQ(os::LastError(), ENOENT);
}

TEST_F(FileTest, FreeSpaceIsKnownForAFolderAndForAFileYetToBeCreated) {
  int64_t folderBytes = -1, fileBytes = -1;
  ASSERT_TRUE(File::FreeSpace(dir.Path(), folderBytes));
  ASSERT_TRUE(File::FreeSpace(dir / "new.vex", fileBytes));
  EXPECT_GT(folderBytes, 0);
  EXPECT_GT(fileBytes, 0);
  EXPECT_FALSE(File::FreeSpace(dir / "absent/new.vex", fileBytes));
  EXPECT_EQ(os::LastError(), ENOENT);
}

TEST_F(FileTest, IdentityResolvesLinksAndDotsAndIsCaseSensitive) {
  Create().Close();
  std::filesystem::create_directory(dir / "sub");
  std::filesystem::create_symlink(path, dir / "link.vex");
  const std::string id = File::Identity(path);
  EXPECT_EQ(File::Identity(dir / "link.vex"), id);
  EXPECT_EQ(File::Identity(dir / "sub/../data.vex"), id);
  EXPECT_NE(File::Identity(dir / "DATA.vex"), id);
  // A file yet to be created is named through its folder's identity.
  EXPECT_EQ(File::Identity(dir / "sub/../new.vex"),
            std::filesystem::path(id).parent_path().string() + "/new.vex");
}

TEST_F(FileTest, TemporaryFilesStartWithVexInTmpdirAndLeaveNothingBehind) {
  const char* saved = std::getenv("TMPDIR");
  std::string savedValue = saved ? saved : "";
  ::setenv("TMPDIR", (dir.Path() + "/").c_str(), 1);
  std::string name;
  {
    File temp = os::CreateTempFile(&name);
    EXPECT_EQ(name.rfind(dir.Path() + "/VEX", 0), 0u) << name;
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    ASSERT_TRUE(temp.Write("spill", 5, 100));
    char buffer[5] = {};
    ASSERT_TRUE(temp.Read(buffer, 5, 100));
    EXPECT_EQ(std::string(buffer, 5), "spill");
  }
  ::setenv("TMPDIR", (dir.Path() + "/absent").c_str(), 1);
  EXPECT_THROW(os::CreateTempFile(), os::OsError);
  if (saved) {
    ::setenv("TMPDIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
}

TEST_F(FileTest, AnExclusiveOpenInAnotherProcessRefusesOursUntilThatProcessDies) {
  Create().Close();
  ostest::Worker worker({"open", path, "exclusive"});
  ASSERT_TRUE(worker.Start());
  File f;
  EXPECT_FALSE(f.Open(path, Access::Read, Share::DenyNone));
  EXPECT_EQ(os::LastError(), os::kSharingViolation);
  worker.Kill();
  EXPECT_TRUE(f.Open(path, Access::Read, Share::DenyNone));
}

TEST_F(FileTest, AnOpenHandleHereRefusesAnExclusiveOpenInAnotherProcess) {
  File f = Create();
  ostest::Worker worker({"open", path, "exclusive"});
  EXPECT_FALSE(worker.Start());
  EXPECT_EQ(worker.Wait(), 3);
}

}  // namespace
