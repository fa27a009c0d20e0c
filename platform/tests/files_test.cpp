#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

TEST(FindFileNoCase, FindsAFileWrittenInAnotherCase) {
  testing::TempDir dir;
  dir.Write("debug", "");
  EXPECT_EQ(FindFileNoCase(dir / "DEBUG"), dir / "debug");
  EXPECT_EQ(FindFileNoCase(dir / "Debug"), dir / "debug");
  EXPECT_EQ(ResolveNoCase(dir / "DEBUG"), dir / "debug");
}

TEST(FindFileNoCase, AnExactMatchWins) {
  testing::TempDir dir;
  dir.Write("Ostrel.INI", "");
  dir.Write("ostrel.ini", "");
  EXPECT_EQ(FindFileNoCase(dir / "Ostrel.INI"), dir / "Ostrel.INI");
  EXPECT_EQ(FindFileNoCase(dir / "ostrel.ini"), dir / "ostrel.ini");
}

TEST(FindFileNoCase, NothingMatches) {
  testing::TempDir dir;
  dir.Write("CONFIG.CFG", "");
  EXPECT_EQ(FindFileNoCase(dir / "CONFIG.CF"), "");
  EXPECT_EQ(FindFileNoCase(dir / "missing/CONFIG.CFG"), "");
  EXPECT_EQ(FindFileNoCase(""), "");
  EXPECT_EQ(ResolveNoCase(dir / "none.ini"), dir / "none.ini");
}

TEST(FindFileNoCase, OnlyAsciiLettersAreFolded) {
  testing::TempDir dir;
  dir.Write("\xe4.ini", "");  // "ä" in Windows-1252; "Ä" is 0xC4
  EXPECT_EQ(FindFileNoCase(dir / "\xc4.INI"), "");
  EXPECT_EQ(FindFileNoCase(dir / "\xe4.INI"), dir / "\xe4.ini");
}

TEST(FindFileNoCase, ABareNameIsLookedUpInTheCurrentFolder) {
  testing::TempDir dir;
  dir.Write("Lang.TXT", "");
  std::string old = CurrentDir();
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  std::string found = FindFileNoCase("lang.txt");
  ASSERT_EQ(chdir(old.c_str()), 0);
  EXPECT_EQ(found, "Lang.TXT");
}

TEST(FileNameText, FileSystemNamesAndWindows1252Texts) {
  struct Row {
    const char* name;
    const char* fileName;
    const char* text;
    bool back;  // the text names the file again
  } rows[] = {
      {"ASCII", "/home/anna/Data/Nord", "/home/anna/Data/Nord", true},
      {"umlauts", "/home/j\xC3\xBCrgen/Data/S\xC3\xBC" "d", "/home/j\xFCrgen/Data/S\xFC" "d", true},
      {"euro sign", "/d/\xE2\x82\xAC", "/d/\x80", true},
      {"no Windows-1252 form", "/d/\xE5\x8C\x97", "/d/?", false},
      {"no UTF-8 (an old Latin-1 name)", "/alt/S\xFC" "d", "/alt/S\xFC" "d", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(FileNameText(r.fileName), r.text);
    EXPECT_EQ(TextFileName(r.text) == r.fileName, r.back);
  }
}

TEST(Paths, DirOfAndTrailingSlash) {
  struct Row {
    const char* label;
    std::string path, dir_of, with_slash;
  };
  const Row rows[] = {
      {"absolute file", "/opt/qar/Ostrel.INI", "/opt/qar/", "/opt/qar/Ostrel.INI/"},
      {"folder with slash", "/opt/qar/", "/opt/qar/", "/opt/qar/"},
      {"root", "/", "/", "/"},
      {"file at root", "/x", "/", "/x/"},
      {"relative", "data/CONFIG.CFG", "data/", "data/CONFIG.CFG/"},
      {"bare name", "CONFIG.CFG", "", "CONFIG.CFG/"},
      {"empty", "", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(DirOf(row.path), row.dir_of);
    EXPECT_EQ(WithTrailingSlash(row.path), row.with_slash);
  }
}

TEST(Paths, ProgramAndCurrentFolders) {
  std::string program = ProgramPath();
  ASSERT_FALSE(program.empty());
  EXPECT_TRUE(std::filesystem::exists(program));
  std::string dir = ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(program.substr(0, dir.size()), dir);
  EXPECT_EQ(CurrentDir().back(), '/');
  EXPECT_EQ(std::filesystem::path(CurrentDir()), std::filesystem::current_path() / "");
}

TEST(FreeDiskBytes, OfATempFolderAndOfAMissingPath) {
  testing::TempDir dir;
  EXPECT_GT(FreeDiskBytes(dir.Path()), 0);
  EXPECT_EQ(FreeDiskBytes(dir / "missing/folder"), -1);
}

// Only a regular file opens; whatever else stands at the path is refused at once and named.
TEST(OpenRegularFile, RefusesAnythingButARegularFile) {
  testing::TempDir dir;
  dir.Write("file", "text");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_symlink(dir / "file", dir / "link");
  struct Row {
    std::string path;
    int flags;
    const char* refused;  // nullptr: opens
    std::string text;
  } rows[] = {
      {dir / "file", O_RDONLY, nullptr, "text"},
      {dir / "link", O_RDONLY, nullptr, "text"},  // followed
      {dir / "link", O_RDONLY | O_NOFOLLOW, "a link", ""},
      {dir / "fifo", O_RDONLY, "a FIFO", ""},
      {dir / "fifo", O_RDWR, "a FIFO", ""},
      {dir / "folder", O_RDONLY, "a folder", ""},
      {"/dev/null", O_RDONLY, "a device", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path + (row.flags & O_NOFOLLOW ? " without following" : ""));
    std::string refused = "stale";
    const int fd = OpenRegularFile(row.path, row.flags, &refused);
    if (row.refused) {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(errno, EINVAL);
      EXPECT_EQ(refused, row.refused);
    } else {
      ASSERT_GE(fd, 0);
      EXPECT_EQ(refused, "");
      EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
      EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
      ::close(fd);
    }
    if (!(row.flags & O_NOFOLLOW)) {
      std::string text = "stale";
      EXPECT_EQ(ReadRegularFile(row.path, text), row.refused == nullptr);
      EXPECT_EQ(text, row.text);
    }
  }
  std::string refused = "stale";
  EXPECT_EQ(OpenRegularFile(dir / "missing", O_RDONLY, &refused), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(refused, "");
  const int made = OpenRegularFile(dir / "made", O_RDWR | O_CREAT | O_EXCL, &refused, 0600);
  EXPECT_GE(made, 0);
  ::close(made);
}

}  // namespace
}  // namespace platform
