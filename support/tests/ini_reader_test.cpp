#include "support/ini_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "platform/testing/fifo_watchdog.h"
#include "platform/testing/temp_dir.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace support {
namespace {

using platform::testing::TempDir;

class IniReaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<IniReader> Reader(const std::string& content, IniBuild build = IniBuild::Server) {
    dir.Write("Ostrel.INI", content);
    auto r = std::make_unique<IniReader>(build);
    r->Set_INI_File(dir / "ostrel.ini");  // found whatever its case
    return r;
  }
  std::vector<std::string> Block(IniReader& r, const std::string& section) {
    r.Set_INI_Section(section);
    r.OPEN_INI_BLOCK();
    std::vector<std::string> lines;
    for (std::string line;;) {
      r.INI_ZEILE(line);
      if (line.empty()) break;
      lines.push_back(line);
    }
    EXPECT_FALSE(r.BlockOpen());
    return lines;
  }
  TempDir dir;
};

const char* const kFile =
    "; heading comment\r\n"
    "[Zentralfunkmodem] ; the central modem\r\n"
    "KEYX=1\r\n"
    "=abc\r\n"
    "Key = value ; note\r\n"
    "TYP =7\r\n"
    "  ; indented comment\r\n"
    "\r\n"
    "Name=Pumpe S\xFC" "d\r\n"
    "Empty=\r\n"
    "[NEXT]\r\n"
    "LATE=1\n"  // a line end without CR
    "x[ADR012]y\r\n"
    "A=\xE4\r\n";

TEST_F(IniReaderTest, KeyLookup) {
  auto r = Reader(kFile);
  struct Row {
    const char* section;
    const char* key;
    const char* want;
  } rows[] = {
      {"ZENTRALFUNKMODEM", "KEY", "value"},  // blanks and comment removed
      {"zentralfunkmodem", "key", "value"},
      {"ZENTRALFUNKMODEM", "KEYX", "1"},
      {"ZENTRALFUNKMODEM", "TYP", "7"},
      {"ZENTRALFUNKMODEM", "TY", ""},       // a prefix is no match
      {"ZENTRALFUNKMODEM", "NAME", "Pumpe S\xFC" "d"},  // the value keeps its case
      {"ZENTRALFUNKMODEM", "EMPTY", ""},
      {"ZENTRALFUNKMODEM", "LATE", ""},     // behind the next section
      {"NEXT", "LATE", "1"},
      {"ADR012", "A", "\xE4"},              // header contained in a longer line
      {"MISSING", "KEY", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.section) + "/" + row.key);
    r->Set_INI_Section(row.section);
    EXPECT_EQ(r->Read_Parameter(row.key), row.want);
  }
}

TEST_F(IniReaderTest, MissingFileGivesEmptyValuesAndDefaults) {
  IniReader r;
  r.Set_INI_File(dir / "none.ini");
  r.Set_INI_Section("X");
  EXPECT_EQ(r.Read_Parameter("A"), "");
  EXPECT_EQ(r.Read_IntParameter("A", 0, 10, 42), 42);
  r.OPEN_INI_BLOCK();
  EXPECT_FALSE(r.BlockOpen());
  std::string line = "stale";
  r.INI_ZEILE(line);
  EXPECT_EQ(line, "");
}

TEST_F(IniReaderTest, BlockReadReturnsContentLines) {
  auto r = Reader(kFile);
  EXPECT_EQ(Block(*r, "Zentralfunkmodem"),
            (std::vector<std::string>{"KEYX=1", "=abc", "Key = value", "TYP =7", "Name=Pumpe S\xFC" "d", "Empty="}));
  EXPECT_EQ(Block(*r, "ADR012"), std::vector<std::string>{"A=\xE4"});
}

TEST_F(IniReaderTest, SingleReadClosesAnOpenBlock) {
  auto r = Reader(kFile);
  r->Set_INI_Section("NEXT");
  r->OPEN_INI_BLOCK();
  ASSERT_TRUE(r->BlockOpen());
  EXPECT_EQ(r->Read_Parameter("LATE"), "1");
  EXPECT_FALSE(r->BlockOpen());
}

TEST_F(IniReaderTest, LongLinesPerBuild) {
  std::string longValue(300, 'v');
  std::string content = "[S]\r\nK=" + longValue + "\r\n" + std::string(300, 'p') + "\r\n";
  auto server = Reader(content, IniBuild::Server);
  server->Set_INI_Section("S");
  EXPECT_EQ(server->Read_Parameter("K"), std::string(253, 'v'));  // the line is cut at 255
  EXPECT_EQ(Block(*server, "S")[1], std::string(255, 'p'));

  auto configurator = Reader(content, IniBuild::Configurator);
  configurator->Set_INI_Section("S");
  EXPECT_EQ(configurator->Read_Parameter("K"), std::string(255, 'v'));  // the value is cut at 255
}

// Every line end a file may have after its line ends were converted once too often.
TEST_F(IniReaderTest, CrLfAndCrLfEachEndALine) {
  struct Row {
    const char* name;
    std::string content;
    const char* modus;  // the value of MODUS in [S]
    std::vector<std::string> block;
  } rows[] = {
      {"CR LF", "[S]\r\nMODUS=1\r\nTYP=a\r\n", "1", {"MODUS=1", "TYP=a"}},
      {"LF", "[S]\nMODUS=1\nTYP=a\n", "1", {"MODUS=1", "TYP=a"}},
      {"CR", "[S]\rMODUS=1\rTYP=a\r", "1", {"MODUS=1", "TYP=a"}},
      {"CR CR LF", "[S]\r\r\nMODUS=1\r\r\nTYP=a\r\r\n", "1", {"MODUS=1", "TYP=a"}},
      {"LF CR", "[S]\n\rMODUS=1\n\rTYP=a\n\r", "1", {"MODUS=1", "TYP=a"}},
      {"mixed, the last line without an end", "[S]\nMODUS=1\r\rTYP=a", "1", {"MODUS=1", "TYP=a"}},
      {"CR inside a line", "[S]\r\nTYP=S1,T,1,12\rjunk\r\nMODUS=2\r\n", "2", {"TYP=S1,T,1,12", "junk", "MODUS=2"}},
      {"CR before the next header", "[S]\r\nMODUS=1\r[T]\r\nMODUS=2\r\n", "1", {"MODUS=1"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto reader = Reader(r.content);
    reader->Set_INI_Section("S");
    EXPECT_EQ(reader->Read_Parameter("MODUS"), r.modus);
    EXPECT_EQ(Block(*reader, "S"), r.block);
  }
}

// A NUL ends a line's text, once logged with the whole line as the log shows control characters.
TEST_F(IniReaderTest, ALineEndsAtANul) {
  TempDir logDir;
  logDir.Write("SAVE_ERR", "");
  ErrorLog log;
  log.Startup(logDir.Path());
  dir.Write("n.ini", std::string("[S]\r\nAE,A\0b,bar\r\nK=1\0x\r\nAE,A\0c\r\n", 32));
  IniReader r(IniBuild::Server, &log);
  r.Set_INI_File(dir / "n.ini");
  EXPECT_EQ(Block(r, "S"), (std::vector<std::string>{"AE,A", "K=1", "AE,A"}));
  r.Set_INI_Section("S");
  EXPECT_EQ(r.Read_Parameter("K"), "1");
  const std::string all = logDir.Read("Problem2.TXT");
  const std::string line =
      ">INI: " + dir / "n.ini" + " line 2 holds a NUL, the rest of the line is ignored: AE,A{0}b,bar<";
  ASSERT_NE(all.find(line), std::string::npos) << all;
  EXPECT_EQ(all.find(line, all.find(line) + 1), std::string::npos) << "logged once: " << all;
  EXPECT_NE(all.find(" line 4 holds a NUL, the rest of the line is ignored: AE,A{0}c<"), std::string::npos) << all;
}

// A FIFO, a folder or a device in place of the file reads as an unreadable file, at once.
TEST_F(IniReaderTest, OnlyARegularFileIsRead) {
  TempDir logDir;
  logDir.Write("SAVE_ERR", "");
  ErrorLog log;
  log.Startup(logDir.Path());
  const std::string fifo = dir / "fifo.ini", folder = dir / "folder.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directory(folder);
  struct Row {
    std::string path;
    const char* kind;
  } rows[] = {{fifo, "a FIFO"}, {folder, "a folder"}, {"/dev/null", "a device"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    platform::testing::FifoWatchdog watchdog(fifo, "[S]\nK=waited\n");
    IniReader r(IniBuild::Server, &log);
    r.Set_INI_File(row.path);
    r.Set_INI_Section("S");
    EXPECT_EQ(r.Read_Parameter("K"), "");
    EXPECT_EQ(r.Read_IntParameter("K", 0, 9, 7), 7);
    r.OPEN_INI_BLOCK();
    EXPECT_FALSE(r.BlockOpen());
    const std::string all = logDir.Read("Problem2.TXT");
    const std::string line = ">INI: " + row.path + " is " + row.kind + ", not read<";
    ASSERT_NE(all.find(line), std::string::npos) << all;
    EXPECT_EQ(all.find(line, all.find(line) + 1), std::string::npos) << "logged once: " << all;
  }
}

TEST(IniFields, CutsCommaSeparatedFields) {
  std::string line = "AE, Druck ,bar,,2";
  std::string a, b, c, d;
  Get_StrParameter(line, 255, a);
  Get_StrParameter(line, 255, b);
  Get_StrParameter(line, 255, c);
  Get_StrParameter(line, 255, d);
  EXPECT_EQ((std::vector<std::string>{a, b, c, d}), (std::vector<std::string>{"AE", "Druck", "bar", ""}));
  EXPECT_EQ(Get_IntParameter(line, 255, 0, 10, 9), 2);
  EXPECT_EQ(line, "");
  EXPECT_EQ(Get_IntParameter(line, 255, 0, 10, 9), 9);  // an empty field takes the default
  std::string cut = "abcdef";
  Get_StrParameter(cut, 3, a);
  EXPECT_EQ(a, "abc");
}

TEST(IniFields, IntegerFields) {
  struct Row {
    const char* field;
    int32_t min, max, def, want;
  } rows[] = {
      {"$1F", 0, 255, 7, 31},  {"$", 0, 255, 7, 0},        {"12x", 0, 255, 7, 7},   {"300", 0, 255, 7, 7},
      {" 42 ", 0, 255, 7, 42}, {"-5", -10, 10, 0, -5},     {"+5", 0, 10, 0, 5},     {"", 0, 10, 99, 99},
      {"1.5", 0, 10, 3, 3},    {"99999999999", 0, INT32_MAX, 1, 1},
      {"5", 10, 20, 99, 99},   // the default stands even outside the range
      {"\t5", 0, 10, 1, 1},    // tabs are no blanks
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.field);
    std::string line = r.field;
    EXPECT_EQ(Get_IntParameter(line, 255, r.min, r.max, r.def), r.want);
  }
  std::string overflow = "$80000000";
  EXPECT_THROW(Get_IntParameter(overflow, 255, 0, 1, 0), EIntOverflow);
}

TEST(IniFields, RealFields) {
  struct Row {
    const char* line;
    double want;
    const char* rest;
  } rows[] = {
      {"1,5", 1.0, "5"},    {"2.5", 2.5, ""},    {" -0.25 ,x", -0.25, "x"}, {"1e3", 1000.0, ""},
      {"abc", 9.0, ""},     {"inf", 9.0, ""},    {"nan", 9.0, ""},          {"0x10", 9.0, ""},
      {"", 9.0, ""},        {"5000", 9.0, ""},    {"1.", 1.0, ""},           {".5", 0.5, ""},
      {"1e-320", 1e-320, ""},  // a tiny value is a value; only one too large for a double fails
      {"1e999", 9.0, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    std::string line = r.line;
    EXPECT_DOUBLE_EQ(Get_RealParameter(line, 255, -1000, 1000, 9.0), r.want);
    EXPECT_EQ(line, r.rest);
  }
}

TEST(IniFields, TrimBlanksKeepsTabs) {
  std::string t = "  \tx y\t  ";
  Trim_Blanks(t);
  EXPECT_EQ(t, "\tx y\t");
  std::string blanks = "   ";
  Trim_Blanks(blanks);
  EXPECT_EQ(blanks, "");
}

TEST_F(IniReaderTest, TracesUnderTheirDebugBits) {
  TempDir logDir;
  logDir.Write("DEBUG", "768");  // bits 256 and 512
  ErrorLog log;
  log.Startup(logDir.Path());
  dir.Write("a.ini", "[S]\r\nN=5\r\n");
  IniReader r(IniBuild::Server, &log);
  r.Set_INI_File(dir / "a.ini");
  r.Set_INI_Section("s");
  r.Read_IntParameter("N", 0, 9, 1);
  r.OPEN_INI_BLOCK();
  std::string line;
  r.INI_ZEILE(line);
  r.CLOSE_INI_BLOCK();
  std::string all = logDir.Read("Problem2.TXT");
  for (std::string want : {std::string(">Read_IntParameter N<"), ">" + dir / "a.ini" + ": [S]/N:5<",
                           ">" + dir / "a.ini" + ": [S] OPEN_INI_BLOCK: TRUE <", std::string(">INI_ZEILE: N=5<"),
                           std::string("> CLOSE_INI_BLOCK<")})
    EXPECT_NE(all.find(want), std::string::npos) << want << "\n" << all;
}

TEST_F(IniReaderTest, ProgramReaderFollowsItsBuild) {
  dir.Write("p.ini", "[S]\r\nK=" + std::string(300, 'v') + "\r\n");
  StartIniReader(IniBuild::Configurator);
  Set_INI_File(dir / "p.ini");
  Set_INI_Section("S");
  EXPECT_EQ(Read_Parameter("K").size(), 255u);
  StartIniReader(IniBuild::Server);
  Set_INI_File(dir / "p.ini");
  Set_INI_Section("S");
  EXPECT_EQ(Read_Parameter("K").size(), 253u);
}

}  // namespace
}  // namespace support
