#include "platform/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/testing/scoped_env.h"
#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

using namespace std::string_literals;

const std::string kServerKey = "HKEY_CLASSES_ROOT\\CLSID\\{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}";
const std::string kLocalServer = kServerKey + "\\LocalServer32";

class RegistryTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  std::string file_ = dir_ / "registry";
  Registry reg_{file_};
  // A second object on the same file: nothing may come from a cache in the first.
  Registry Fresh() const { return Registry(file_); }
};

struct RoundTrip {
  const char* label;
  std::string name;
  RegValue value;
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
  const RoundTrip rows[] = {
      {"default string", "", "/usr/bin/ostrel-host"s},
      {"named string", "ThreadingModel", "Both"s},
      {"empty string", "Empty", ""s},
      {"dword 42", "Count", uint32_t{42}},
      {"dword 0", "Zero", uint32_t{0}},
      {"dword max", "Max", uint32_t{0xFFFFFFFF}},
      {"quotes and backslashes", "Path", "C:\\Programme\\\"Ostrel\"\\"s},
      {"line breaks and tab", "Lines", "a\r\nb\nc\rd\te"s},
      {"control bytes and NUL", "Ctl", "\x01\x1f\x7f"s + '\0' + "x"s},
      {"Windows-1252 high bytes", "High", "\x80\x81\x8d\x9f\xa0\xe4\xff"s},
      {"section and comment look-alikes", "Tricky", "[HKEY]\r\n; x\r\n\"a\"=dword:1"s},
      {"name with specials", "n\"a\\m]e=@\n\xe4", "v"s},
      {"name @", "@", "not the default"s},
  };
  for (const auto& row : rows) ASSERT_TRUE(reg_.SetValue(kLocalServer, row.name, row.value)) << row.label;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(Fresh().Value(kLocalServer, row.name), std::optional<RegValue>(row.value));
  }
  EXPECT_EQ(Fresh().ValueNames(kLocalServer).size(), std::size(rows));
  EXPECT_EQ(Fresh().String(kLocalServer, ""), "/usr/bin/ostrel-host");
}

TEST_F(RegistryTest, StringOfADwordIsMissing) {
  ASSERT_TRUE(reg_.SetValue(kServerKey, "Count", uint32_t{7}));
  EXPECT_EQ(reg_.String(kServerKey, "Count"), std::nullopt);
  EXPECT_EQ(reg_.Value(kServerKey, "Count"), std::optional<RegValue>(uint32_t{7}));
  EXPECT_EQ(reg_.Value(kServerKey, "Other"), std::nullopt);
  EXPECT_EQ(reg_.Value(kServerKey + "\\Missing", ""), std::nullopt);
}

TEST_F(RegistryTest, SettingAgainReplacesTheValueAndItsType) {
  ASSERT_TRUE(reg_.SetValue(kServerKey, "V", "text"s));
  ASSERT_TRUE(reg_.SetValue(kServerKey, "V", uint32_t{5}));
  EXPECT_EQ(reg_.Value(kServerKey, "V"), std::optional<RegValue>(uint32_t{5}));
  EXPECT_EQ(reg_.ValueNames(kServerKey), std::vector<std::string>{"V"});
}

TEST_F(RegistryTest, KeysAndValueNamesIgnoreAsciiCaseAndKeepTheirStoredCase) {
  ASSERT_TRUE(reg_.SetValue("HKEY_CLASSES_ROOT\\Ostrel.OPC.1\\CLSID", "", "{5D2C8E71}"s));
  ASSERT_TRUE(reg_.SetValue("HKEY_CLASSES_ROOT\\Ostrel.OPC.1", "ThreadingModel", "Both"s));

  EXPECT_TRUE(reg_.KeyExists("hkey_classes_root\\OSTREL.opc.1\\clsid"));
  EXPECT_EQ(reg_.String("Hkey_Classes_Root\\ostrel.opc.1\\CLSID"), "{5D2C8E71}");
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\Ostrel.OPC.1", "THREADINGMODEL"), "Both");

  // A change through another spelling updates the same key and keeps the first spelling.
  ASSERT_TRUE(reg_.SetValue("hkey_classes_root\\ostrel.opc.1", "threadingmodel", "Apartment"s));
  ASSERT_TRUE(reg_.CreateKey("hkey_classes_root\\ostrel.opc.1\\CurVer"));
  EXPECT_EQ(reg_.ValueNames("HKEY_CLASSES_ROOT\\Ostrel.OPC.1"), std::vector<std::string>{"ThreadingModel"});
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\Ostrel.OPC.1", "ThreadingModel"), "Apartment");
  EXPECT_EQ(reg_.SubKeys("HKEY_CLASSES_ROOT"), std::vector<std::string>{"Ostrel.OPC.1"});
  EXPECT_EQ(reg_.SubKeys("HKEY_CLASSES_ROOT\\Ostrel.OPC.1"), (std::vector<std::string>{"CLSID", "CurVer"}));
}

TEST_F(RegistryTest, OnlyAsciiLettersAreFolded) {
  // 0xE4 is "ä", 0xC4 "Ä" in Windows-1252.
  ASSERT_TRUE(reg_.SetValue("HKEY_CURRENT_USER\\Stra\xe4" "e", "", "lower"s));
  EXPECT_FALSE(reg_.KeyExists("HKEY_CURRENT_USER\\STRA\xc4" "E"));
  EXPECT_TRUE(reg_.KeyExists("HKEY_CURRENT_USER\\STRA\xe4" "E"));
}

TEST_F(RegistryTest, SubKeysListsDirectChildrenOnly) {
  // Siblings whose names share a prefix, or sort before "\", must not count as children.
  for (const char* key : {"HKEY_CLASSES_ROOT\\CLSID\\{A}\\LocalServer32", "HKEY_CLASSES_ROOT\\CLSID\\{B}",
                          "HKEY_CLASSES_ROOT\\CLSIDX\\{C}", "HKEY_CLASSES_ROOT\\CLSID!\\{D}",
                          "HKEY_CLASSES_ROOT\\CLSID \\{E}"}) {
    ASSERT_TRUE(reg_.CreateKey(key)) << key;
  }
  EXPECT_EQ(reg_.SubKeys("HKEY_CLASSES_ROOT\\CLSID"), (std::vector<std::string>{"{A}", "{B}"}));
  EXPECT_EQ(reg_.SubKeys("HKEY_CLASSES_ROOT\\CLSID\\{B}"), std::vector<std::string>{});
  EXPECT_EQ(reg_.SubKeys("HKEY_CLASSES_ROOT\\Missing"), std::vector<std::string>{});
  EXPECT_EQ(reg_.SubKeys("HKEY_CLASSES_ROOT").size(), 4u);
}

TEST_F(RegistryTest, CreateKeyMakesEmptyKeysWithTheirParents) {
  ASSERT_TRUE(reg_.CreateKey(kServerKey + "\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));
  for (const std::string& key : {"HKEY_CLASSES_ROOT\\CLSID"s, kServerKey, kServerKey + "\\Implemented Categories"}) {
    SCOPED_TRACE(key);
    EXPECT_TRUE(Fresh().KeyExists(key));
    EXPECT_TRUE(Fresh().ValueNames(key).empty());
  }
  EXPECT_FALSE(reg_.KeyExists(kServerKey + "\\OPC"));
}

TEST_F(RegistryTest, DeleteKeyTakesItsWholeSubtreeAndNothingElse) {
  for (const std::string& key :
       {kLocalServer, kServerKey + "\\OPC\\Vendor", kServerKey + "X", kServerKey + "!", kServerKey + "\\OPCX"}) {
    ASSERT_TRUE(reg_.SetValue(key, "", "x"s)) << key;
  }
  ASSERT_TRUE(reg_.DeleteKey(kServerKey + "\\opc"));
  EXPECT_FALSE(reg_.KeyExists(kServerKey + "\\OPC"));
  EXPECT_FALSE(reg_.KeyExists(kServerKey + "\\OPC\\Vendor"));
  EXPECT_TRUE(reg_.KeyExists(kServerKey + "\\OPCX"));
  EXPECT_TRUE(reg_.KeyExists(kLocalServer));

  ASSERT_TRUE(reg_.DeleteKey(kServerKey));
  EXPECT_FALSE(reg_.KeyExists(kServerKey));
  EXPECT_FALSE(reg_.KeyExists(kLocalServer));
  EXPECT_TRUE(reg_.KeyExists(kServerKey + "X"));
  EXPECT_TRUE(reg_.KeyExists(kServerKey + "!"));
  EXPECT_TRUE(reg_.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
}

TEST_F(RegistryTest, DeleteValueRemovesOneValue) {
  ASSERT_TRUE(reg_.SetValue(kServerKey, "", "Ostrel"s));
  ASSERT_TRUE(reg_.SetValue(kServerKey, "AppID", "{X}"s));
  ASSERT_TRUE(reg_.DeleteValue(kServerKey, "appid"));
  EXPECT_EQ(reg_.ValueNames(kServerKey), std::vector<std::string>{""});
  ASSERT_TRUE(reg_.DeleteValue(kServerKey, ""));
  EXPECT_TRUE(reg_.ValueNames(kServerKey).empty());
  EXPECT_TRUE(reg_.KeyExists(kServerKey));  // the key stays without values
}

TEST_F(RegistryTest, DeletingWhatIsMissingSucceedsWithoutWriting) {
  EXPECT_TRUE(reg_.DeleteKey(kServerKey));
  EXPECT_TRUE(reg_.DeleteValue(kServerKey, "x"));
  EXPECT_FALSE(dir_.Exists("registry"));
}

TEST_F(RegistryTest, PredefinedRootsAlwaysExistAndCannotBeDeleted) {
  for (const char* root : {kClassesRoot, kLocalMachine, kCurrentUser}) {
    SCOPED_TRACE(root);
    EXPECT_TRUE(reg_.KeyExists(root));
    EXPECT_TRUE(reg_.CreateKey(root));
    EXPECT_FALSE(reg_.DeleteKey(root));
  }
  ASSERT_TRUE(reg_.SetValue(kServerKey, "", "x"s));
  EXPECT_FALSE(reg_.DeleteKey("hkey_classes_root"));
  EXPECT_TRUE(reg_.KeyExists(kServerKey));
}

TEST_F(RegistryTest, AMissingFileIsAnEmptyRegistryAndReadingDoesNotCreateIt) {
  EXPECT_FALSE(reg_.KeyExists(kServerKey));
  EXPECT_EQ(reg_.Value(kServerKey), std::nullopt);
  EXPECT_TRUE(reg_.SubKeys(kClassesRoot).empty());
  EXPECT_TRUE(reg_.ValueNames(kServerKey).empty());
  EXPECT_FALSE(dir_.Exists("registry"));
}

TEST_F(RegistryTest, InvalidKeyPathsAreRefused) {
  for (const std::string& key : {""s, "\\HKEY_CLASSES_ROOT"s, "HKEY_CLASSES_ROOT\\"s, "HKEY_CLASSES_ROOT\\\\CLSID"s,
                                 "HKEY_CLASSES_ROOT\\a\nb"s, "HKEY_CLASSES_ROOT\\a\x7f"s}) {
    SCOPED_TRACE(key);
    EXPECT_FALSE(reg_.CreateKey(key));
    EXPECT_FALSE(reg_.SetValue(key, "", "x"s));
    EXPECT_FALSE(reg_.KeyExists(key));
    EXPECT_FALSE(reg_.DeleteKey(key));
  }
  EXPECT_FALSE(dir_.Exists("registry"));
}

TEST_F(RegistryTest, TheFileIsReadableTextWithCrLf) {
  ASSERT_TRUE(reg_.SetValue(kLocalServer, "", "/usr/bin/ostrel-host \"-x\""s));
  ASSERT_TRUE(reg_.SetValue(kServerKey, "Count", uint32_t{42}));
  ASSERT_TRUE(reg_.SetValue(kServerKey, "", "Ostrel"s));
  EXPECT_EQ(dir_.Read("registry"),
            "; qar registry\r\n"
            "\r\n[HKEY_CLASSES_ROOT]\r\n"
            "\r\n[HKEY_CLASSES_ROOT\\CLSID]\r\n"
            "\r\n[" + kServerKey + "]\r\n"
            "@=\"Ostrel\"\r\n"
            "\"Count\"=dword:0000002a\r\n"
            "\r\n[" + kLocalServer + "]\r\n"
            "@=\"/usr/bin/ostrel-host \\\"-x\\\"\"\r\n");
}

TEST_F(RegistryTest, AHandWrittenFileIsRead) {
  dir_.Write("registry",
             "; written by hand, LF only\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Ostrel]\n"
             "  @ = \"Ostrel\"  \n"
             "\"Timeout\"=DWORD:FF\n"
             "\"Name\"=\"Stra\xe4" "e\"\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Ostrel\\Deep\\Key]\n");
  const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Ostrel";
  EXPECT_EQ(reg_.String(key), "Ostrel");
  EXPECT_EQ(reg_.Value(key, "Timeout"), std::optional<RegValue>(uint32_t{255}));
  EXPECT_EQ(reg_.String(key, "Name"), "Stra\xe4" "e");
  // A section whose parents have none of their own still hangs in the tree.
  EXPECT_EQ(reg_.SubKeys(key), std::vector<std::string>{"Deep"});
  EXPECT_TRUE(reg_.KeyExists(key + "\\Deep\\Key"));
}

TEST_F(RegistryTest, DamagedLinesAreSkippedAndTheRestSurvivesTheNextWrite) {
  dir_.Write("registry",
             "\"Orphan\"=\"a value before any section\"\r\n"
             "[HKEY_CLASSES_ROOT\\Good]\r\n"
             "\"Before\"=\"kept\"\r\n"
             "\"Unterminated\"=\"no closing quote\r\n"
             "\"BadEscape\"=\"\\q\"\r\n"
             "\"BadHex\"=\"\\x4\"\r\n"
             "\"NotHex\"=dword:xyz\r\n"
             "\"TooLong\"=dword:123456789\r\n"
             "\"Trailing\"=\"x\" junk\r\n"
             "\"NoValue\"=\r\n"
             "NoQuotes=\"x\"\r\n"
             "garbage \x01\x02\xff"s + '\0' + "\r\n"
             "\"After\"=dword:00000010\r\n"
             "[HKEY_CLASSES_ROOT\\Bad\\\\Header]\r\n"
             "\"LostWithItsHeader\"=\"x\"\r\n"
             "[HKEY_CLASSES_ROOT\\NoClose\r\n"
             "[HKEY_CLASSES_ROOT\\Other]\r\n"
             "@=\"also kept\"\r\n"
             "\"Half");  // a file cut off in the middle of a line
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\Good", "Before"), "kept");
  EXPECT_EQ(reg_.Value("HKEY_CLASSES_ROOT\\Good", "After"), std::optional<RegValue>(uint32_t{16}));
  EXPECT_EQ(reg_.ValueNames("HKEY_CLASSES_ROOT\\Good"), (std::vector<std::string>{"Before", "After"}));
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\Other"), "also kept");
  EXPECT_EQ(reg_.SubKeys("HKEY_CLASSES_ROOT"), (std::vector<std::string>{"Good", "Other"}));

  std::vector<std::string> debug;
  SetDebugOutputSink([&](std::string_view text) { debug.emplace_back(text); });
  bool written = reg_.SetValue("HKEY_CLASSES_ROOT\\New", "", "x"s);
  SetDebugOutputSink(nullptr);
  ASSERT_TRUE(written);
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\Good", "Before"), "kept");
  EXPECT_EQ(reg_.Value("HKEY_CLASSES_ROOT\\Good", "After"), std::optional<RegValue>(uint32_t{16}));
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\Other"), "also kept");
  EXPECT_EQ(reg_.String("HKEY_CLASSES_ROOT\\New"), "x");
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_NE(debug[0].find("14 unreadable line(s) dropped"), std::string::npos) << debug[0];
}

TEST_F(RegistryTest, AFileThatCannotBeReadIsNeverReplaced) {
  // A writer that may replace the file (its folder is writable) but not read it must not put
  // a registry with only its own change in place of everything the file holds.
  ASSERT_TRUE(reg_.SetValue(kServerKey, "", "precious"s));
  std::string before = dir_.Read("registry");
  ASSERT_EQ(chmod(dir_.Path().c_str(), 0777), 0);
  ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
  ASSERT_EQ(chmod((file_ + ".lock").c_str(), 0666), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Root reads every file, so the writer becomes "nobody" first.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    _exit(Registry(file_).SetValue(kServerKey + "\\Other", "", "x"s) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot drop root";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the change claimed success";
  EXPECT_EQ(dir_.Read("registry"), before);
}

TEST_F(RegistryTest, ChangesFailWhenTheFolderCannotBeMade) {
  dir_.Write("plain", "a file, not a folder");
  Registry reg(dir_ / "plain/qar/registry");
  EXPECT_FALSE(reg.SetValue(kServerKey, "", "x"s));
  EXPECT_FALSE(reg.CreateKey(kServerKey));
  EXPECT_FALSE(reg.KeyExists(kServerKey));
}

TEST_F(RegistryTest, TheFirstWriteCreatesTheParentFolders) {
  Registry reg(dir_ / "data/qar/registry");
  ASSERT_TRUE(reg.SetValue(kServerKey, "", "x"s));
  EXPECT_EQ(Registry(dir_ / "data/qar/registry").String(kServerKey), "x");
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The registry names the programs that clients start and where running servers listen: it and
// its lock are the user's alone, also when an older version left them readable to others.
TEST_F(RegistryTest, TheFileAndItsLockAreTheUsersOnly) {
  struct Row {
    const char* name;
    mode_t before;  // 0: no file yet
  } rows[] = {{"created", 0}, {"left readable by others", 0644}, {"left writable by the group", 0664}};
  const mode_t old_mask = umask(0);  // the most open mask: the modes are the code's own choice
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(file_);
    std::filesystem::remove(file_ + ".lock");
    if (r.before) {
      dir_.Write("registry", "[HKEY_CLASSES_ROOT\\Old]\r\n");
      dir_.Write("registry.lock", "");
      ASSERT_EQ(chmod(file_.c_str(), r.before), 0);
      ASSERT_EQ(chmod((file_ + ".lock").c_str(), r.before), 0);
    }
    ASSERT_TRUE(reg_.SetValue(kServerKey, "", "x"s));
    EXPECT_EQ(ModeOf(file_), 0600u);
    EXPECT_EQ(ModeOf(file_ + ".lock"), 0600u);
    EXPECT_EQ(reg_.KeyExists("HKEY_CLASSES_ROOT\\Old"), r.before != 0);
  }
  umask(old_mask);
}

TEST_F(RegistryTest, ALeftoverTempFileDoesNotStopAWrite) {
  dir_.Write("registry.tmp", "[HKEY_CLASSES_ROOT\\FromACrashedWriter]\r\n");
  ASSERT_TRUE(reg_.SetValue(kServerKey, "", "x"s));
  EXPECT_FALSE(reg_.KeyExists("HKEY_CLASSES_ROOT\\FromACrashedWriter"));
  EXPECT_FALSE(dir_.Exists("registry.tmp"));
}

TEST_F(RegistryTest, AWriterWaitsForTheLockHolder) {
  ASSERT_TRUE(reg_.CreateKey(kServerKey));
  int fd = open((file_ + ".lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    EXPECT_TRUE(reg_.SetValue(kServerKey, "Late", "x"s));
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds{200});
  EXPECT_FALSE(done);
  EXPECT_EQ(reg_.String(kServerKey, "Late"), std::nullopt);
  close(fd);  // releases the lock
  writer.join();
  EXPECT_EQ(reg_.String(kServerKey, "Late"), "x");
}

// Each writer adds values of its own to one shared key and to a key of its own.
bool AddValues(const std::string& file, const std::string& who, int count) {
  Registry reg(file);
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    ok = reg.SetValue(kServerKey, who + "-" + std::to_string(i), uint32_t(i)) && ok;
    ok = reg.SetValue(kServerKey + "\\" + who, "v" + std::to_string(i), "x"s) && ok;
  }
  return ok;
}

void ExpectAllValues(const Registry& reg, const std::string& who, int count) {
  SCOPED_TRACE(who);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(reg.Value(kServerKey, who + "-" + std::to_string(i)), std::optional<RegValue>(uint32_t(i)));
  }
  EXPECT_EQ(reg.ValueNames(kServerKey + "\\" + who).size(), size_t(count));
}

TEST_F(RegistryTest, ConcurrentThreadsLoseNoChangeAndReadersNeverSeeHalfAFile) {
  constexpr int kThreads = 6, kCount = 15;
  ASSERT_TRUE(reg_.SetValue(kLocalServer, "", "/usr/bin/ostrel-host"s));
  std::atomic<bool> stop{false};
  std::atomic<int> torn_reads{0}, reads{0};
  std::thread reader([&] {
    while (!stop) {
      if (reg_.String(kLocalServer) != "/usr/bin/ostrel-host") ++torn_reads;
      ++reads;
    }
  });
  std::vector<std::thread> writers;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      if (!AddValues(file_, "thread" + std::to_string(t), kCount)) ++failures;
    });
  }
  for (auto& w : writers) w.join();
  stop = true;
  reader.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(torn_reads, 0) << "of " << reads << " reads";
  for (int t = 0; t < kThreads; ++t) ExpectAllValues(reg_, "thread" + std::to_string(t), kCount);
  EXPECT_EQ(reg_.ValueNames(kServerKey).size(), size_t(kThreads * kCount));
}

TEST_F(RegistryTest, ConcurrentProcessesLoseNoChange) {
  constexpr int kChildren = 3, kCount = 15;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(AddValues(file_, "process" + std::to_string(c), kCount) ? 0 : 1);
    children.push_back(pid);
  }
  EXPECT_TRUE(AddValues(file_, "parent", kCount));
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  for (int c = 0; c < kChildren; ++c) ExpectAllValues(reg_, "process" + std::to_string(c), kCount);
  ExpectAllValues(reg_, "parent", kCount);
}


using testing::ScopedEnv;

TEST(RegistryDefaultFile, FollowsTheEnvironment) {
  struct Row {
    const char* label;
    const char* qar_registry;
    const char* xdg_data_home;
    const char* home;
    std::string expected;
  };
  const Row rows[] = {
      {"QAR_REGISTRY wins", "/tmp/r/registry", "/data", "/home/u", "/tmp/r/registry"},
      {"XDG_DATA_HOME", nullptr, "/data", "/home/u", "/data/qar/registry"},
      {"XDG_DATA_HOME with slash", nullptr, "/data/", "/home/u", "/data/qar/registry"},
      {"empty QAR_REGISTRY ignored", "", "/data", "/home/u", "/data/qar/registry"},
      {"relative XDG_DATA_HOME ignored", nullptr, "data", "/home/u", "/home/u/.local/share/qar/registry"},
      {"HOME", nullptr, nullptr, "/home/u", "/home/u/.local/share/qar/registry"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ScopedEnv a("QAR_REGISTRY", row.qar_registry), b("XDG_DATA_HOME", row.xdg_data_home), c("HOME", row.home);
    EXPECT_EQ(Registry::DefaultFile(), row.expected);
  }
}

TEST(RegistryDefaultFile, ADefaultRegistryUsesQarRegistry) {
  testing::TempDir dir;
  ScopedEnv env("QAR_REGISTRY", (dir / "mine").c_str());
  Registry reg;
  EXPECT_EQ(reg.File(), dir / "mine");
  ASSERT_TRUE(reg.SetValue(kServerKey, "", "x"s));
  EXPECT_TRUE(dir.Exists("mine"));
}

}  // namespace
}  // namespace platform
