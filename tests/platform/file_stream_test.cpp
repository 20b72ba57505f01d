#include "platform/file_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/encoding.h"
#include "support/scratch_folder.h"

namespace platform {
namespace {

using test_support::ReadRaw;
using test_support::ScratchFolder;
using test_support::WriteRaw;

TEST(FileStream, CreateWritesReadsSeeksAndSizes) {
  ScratchFolder root;
  const std::string path = root / "data.bin";
  {
    FileStream stream(path, FileMode::fmCreate);
    EXPECT_EQ(stream.Size(), 0);
    stream.Write("hello world", 11);
    EXPECT_EQ(stream.Position(), 11);
    stream.Seek(6);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), "world");
    EXPECT_EQ(stream.Read(buffer, sizeof buffer), 0u);
    stream.SetSize(20);  // grows with zero bytes, the position stays
    EXPECT_EQ(stream.Position(), 11);
    stream.SetSize(5);   // cuts, the position follows the end
    EXPECT_EQ(stream.Position(), 5);
    stream.Write("!", 1);
    EXPECT_EQ(stream.FileName(), path);
  }
  EXPECT_EQ(ReadRaw(path), "hello!");
}

TEST(FileStream, CreateEmptiesAnExistingFileAndOpenKeepsIt) {
  ScratchFolder root;
  const std::string path = root / "Existing.txt";
  WriteRaw(path, "old content");
  {
    FileStream stream(root / "existing.TXT", FileMode::fmOpenReadWrite);
    EXPECT_EQ(stream.Size(), 11);
    stream.Seek(stream.Size());
    stream.Write(" + more", 7);
  }
  EXPECT_EQ(ReadRaw(path), "old content + more");
  {
    FileStream stream(root / "EXISTING.txt", FileMode::fmCreate);
    EXPECT_EQ(stream.Size(), 0);
  }
  EXPECT_EQ(ReadRaw(path), "");
}

TEST(FileStream, CreatesNewNamesAsGivenInsideFoldersFoundWithoutCase) {
  ScratchFolder root;
  ASSERT_EQ(mkdir((root / "update").c_str(), 0755), 0);
  const std::string name = gbk("新文件.txt");
  {
    FileStream stream(root.Path() + "\\Update\\" + name, FileMode::fmCreate);
    stream.Write("x", 1);
  }
  EXPECT_EQ(ReadRaw(root / "update/新文件.txt"), "x");
}

TEST(FileStream, OpenAndCreateFailuresNameThePathAndTheReason) {
  ScratchFolder root;
  const std::string missing = root / "missing.bin";
  try {
    FileStream stream(missing, FileMode::fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". No such file or directory");
  }
  const std::string no_folder = root / "no folder/new.bin";
  try {
    FileStream stream(no_folder, FileMode::fmCreate);
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + no_folder + "\". No such file or directory");
  }
  EXPECT_THROW(FileStream(root.Path(), FileMode::fmCreate), EFCreateError) << "a folder is no file";
  EXPECT_THROW(FileStream(root.Path(), FileMode::fmOpenRead), EStreamError);
}

TEST(FileStream, WriteErrorsRaiseInsteadOfDroppingBytes) {
  ScratchFolder root;
  WriteRaw(root / "read only.txt", "abc");
  FileStream read_only(root / "read only.txt", FileMode::fmOpenRead);
  EXPECT_THROW(read_only.Write("x", 1), EStreamError);
  EXPECT_EQ(ReadRaw(root / "read only.txt"), "abc");

  // /dev/full accepts the open and refuses every byte, as a full disk does.
  FileStream full("/dev/full", FileMode::fmOpenReadWrite);
  const std::string block(8192, 'z');
  try {
    full.Write(block.data(), block.size());
    FAIL() << "no exception";
  } catch (const EStreamError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write to file \"/dev/full\". No space left on device");
  }
}

TEST(FileStream, ManyBlocksArriveWhole) {
  ScratchFolder root;
  const std::string path = root / "download.bin";
  std::string expected;
  {
    FileStream stream(path, FileMode::fmCreate);
    std::string block(8192, '\0');
    for (int i = 0; i < 256; ++i) {
      for (size_t j = 0; j < block.size(); j += 512) block[j] = static_cast<char>(i);
      stream.Write(block.data(), block.size());
      expected += block;
    }
    EXPECT_EQ(stream.Size(), 256 * 8192);
  }
  EXPECT_TRUE(ReadRaw(path) == expected);
}

}  // namespace
}  // namespace platform
