#include "platform/file_read.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace quillnet {
namespace {

class FileRead : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("quillnet-file-read-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(std::filesystem::create_directory(folder));
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  // Named in UTF-8, as the program names files; u8path so the test's own side agrees.
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = folder / std::filesystem::u8path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  }

  std::filesystem::path folder;
};

TEST_F(FileRead, ReadsEveryByteAsItIsUpToTheLimit) {
  // Line ends of both kinds and a Ctrl+Z, which a text-mode read would change or stop at.
  const std::string bytes = std::string("MAC,IP,MASK\r\n02:00:5e:10:20:30\n\x1A", 32) + "after";
  // "hüfte.csv": a name beyond ASCII, in UTF-8.
  constexpr char kName[] = "h\xC3\xBC" "fte.csv";
  const std::string path = Write(kName, bytes);
  std::string text;
  ASSERT_EQ(ReadFileUpTo(path, 1000, text), 0);
  EXPECT_EQ(text, bytes);
  ASSERT_EQ(ReadFileUpTo(path, 5, text), 0);
  EXPECT_EQ(text, "MAC,I");
}

TEST_F(FileRead, SaysWhyAFileCannotBeRead) {
  std::string text = "old";
  EXPECT_EQ(ReadFileUpTo(Write("x", "") + "-missing", 10, text), ENOENT);
  EXPECT_EQ(text, "");
  const std::u8string folderText = folder.u8string();
  EXPECT_EQ(ReadFileUpTo(std::string(folderText.begin(), folderText.end()), 10, text), EISDIR);
}

}  // namespace
}  // namespace quillnet
