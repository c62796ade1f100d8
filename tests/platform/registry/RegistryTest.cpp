#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "os/FileFaults.h"
#include "registry/Registry.h"
#include "support/ScratchDir.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Registry, TypedValuesRoundTripThroughTheExportText) {
  auto store = std::make_shared<reg::MemoryStore>();
  reg::TRegistry r(store);
  ASSERT_TRUE(r.OpenKey("\\Software\\Lodgemark\\Valmora", true));
  r.WriteString("LogIn", "Caf\xE9 \"quoted\" back\\slash");  // Windows-1252 é
  r.WriteInteger("StopSale1", -3);
  r.WriteBool("Showmessage", true);
  r.WriteFloat("GSTRate1", 12.5);
  r.WriteExpandString("Path", "%HOME%\\x");
  r.WriteString("Multi", "line1\r\nline2");

  std::string text = reg::SerializeHive(store->Load());
  EXPECT_NE(text.find("Windows Registry Editor Version 5.00\n"), std::string::npos);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Lodgemark\\Valmora]"), std::string::npos);
  EXPECT_NE(text.find("\"LogIn\"=\"Caf\xC3\xA9 \\\"quoted\\\" back\\\\slash\""), std::string::npos);
  EXPECT_NE(text.find("\"StopSale1\"=dword:fffffffd"), std::string::npos);
  EXPECT_NE(text.find("\"GSTRate1\"=hex:00,00,00,00,00,00,29,40"), std::string::npos);

  auto reloaded = std::make_shared<reg::MemoryStore>();
  reloaded->Update([&](reg::Hive& h) { h = reg::ParseHive(text); });
  reg::TRegistry back(reloaded);
  ASSERT_TRUE(back.OpenKey("software\\LODGEMARK\\valmora", false));  // case-insensitive
  EXPECT_EQ(back.ReadString("login"), "Caf\xE9 \"quoted\" back\\slash");
  EXPECT_EQ(back.ReadInteger("StopSale1"), -3);
  EXPECT_TRUE(back.ReadBool("Showmessage"));
  EXPECT_EQ(back.ReadFloat("GSTRate1"), 12.5);
  EXPECT_EQ(back.ReadString("Path"), "%HOME%\\x");  // read unexpanded
  EXPECT_EQ(back.ReadString("Multi"), "line1\r\nline2");
}

TEST(Registry, WrongTypesAndMissingNumbersFailWhileMissingTextIsEmpty) {
  reg::TRegistry r(std::make_shared<reg::MemoryStore>());
  ASSERT_TRUE(r.OpenKey("Software\\Test", true));
  r.WriteString("Text", "12");
  r.WriteInteger("Number", 12);
  r.WriteBinaryData("Short", std::string("\x01\x02", 2));
  EXPECT_EQ(r.ReadString("Missing"), "");
  EXPECT_THROW(r.ReadInteger("Missing"), reg::ERegistryException);
  EXPECT_THROW(r.ReadInteger("Text"), reg::ERegistryException);
  EXPECT_THROW(r.ReadString("Number"), reg::ERegistryException);
  EXPECT_THROW(r.ReadFloat("Short"), reg::ERegistryException);
  EXPECT_THROW(r.ReadFloat("Number"), reg::ERegistryException);
}

TEST(Registry, KeysAreCreatedOnlyWhenAskedAndUnopenedKeysRefuseAccess) {
  auto store = std::make_shared<reg::MemoryStore>();
  reg::TRegistry r(store);
  EXPECT_FALSE(r.OpenKey("\\Software\\Absent", false));
  EXPECT_THROW(r.ReadInteger("x"), reg::ERegistryException);
  EXPECT_THROW(r.WriteInteger("x", 1), reg::ERegistryException);
  EXPECT_TRUE(r.OpenKey("\\Software\\Absent\\Child", true));
  EXPECT_TRUE(r.KeyExists("Software\\Absent"));  // parents exist too
  store->SetFailWrites(true);
  EXPECT_FALSE(r.OpenKey("\\Software\\Other", true));
  EXPECT_TRUE(r.OpenKey("\\Software\\Absent\\Child", true));  // exists: no write needed
  EXPECT_THROW(r.WriteString("x", "y"), reg::ERegistryException);
}

TEST(Registry, DamagedFilesAreReportedAndNeverOverwritten) {
  testsupport::ScratchDir dir;
  std::string path = dir / "HKCU.reg";
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=qword:1\n";
  std::ofstream(path) << damaged;
  auto store = std::make_shared<reg::FileStore>(path);
  try {
    store->Load();
    FAIL() << "a damaged file must be reported";
  } catch (const reg::ERegistryException& e) {
    EXPECT_NE(e.Message().find("line 4"), std::string::npos) << e.Message();
  }
  reg::TRegistry r(store);
  EXPECT_FALSE(r.OpenKey("A", true));
  try {
    r.WriteString("x", "y");
    ADD_FAILURE() << "a write to an unopened key must fail";
  } catch (const reg::ERegistryException& e) {
    // The writer's error says why the key could not be opened.
    EXPECT_NE(e.Message().find("line 4"), std::string::npos) << e.Message();
  }
  EXPECT_THROW(store->Update([](reg::Hive& h) { h.Ensure("B"); }), reg::ERegistryException);
  EXPECT_EQ(ReadFile(path), damaged);
}

TEST(Registry, FileStoreKeepsValuesAcrossStoreObjects) {
  testsupport::ScratchDir dir;
  std::string path = dir / "sub/HKCU.reg";  // the folder is created on the first write
  {
    reg::TRegistry r(std::make_shared<reg::FileStore>(path));
    ASSERT_TRUE(r.OpenKey("\\Software\\Lodgemark\\Valmora", true));
    r.WriteString("RoomId1", "R-1");
  }
  reg::TRegistry r(std::make_shared<reg::FileStore>(path));
  ASSERT_TRUE(r.OpenKey("\\Software\\Lodgemark\\Valmora", false));
  EXPECT_EQ(r.ReadString("RoomId1"), "R-1");
}

TEST(Registry, ConcurrentWritersInSeveralProcessesLoseNothing) {
  testsupport::ScratchDir dir;
  std::string path = dir / "HKCU.reg";
  constexpr int kProcesses = 4, kWrites = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    // A child process without open database files: it only writes the hive and exits.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      try {
        for (int i = 0; i < kWrites; ++i) {
          reg::TRegistry r(std::make_shared<reg::FileStore>(path));
          if (!r.OpenKey("Software\\Race", true)) ++failures;
          r.WriteInteger("P" + std::to_string(p) + "_" + std::to_string(i), i);
        }
      } catch (...) {
        ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  reg::TRegistry r(std::make_shared<reg::FileStore>(path));
  ASSERT_TRUE(r.OpenKey("Software\\Race", false));
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < kWrites; ++i)
      EXPECT_EQ(r.ReadInteger("P" + std::to_string(p) + "_" + std::to_string(i)), i);
}

TEST(Registry, DefaultHivePathFollowsTheEnvironment) {
  const char* oldExplicit = std::getenv("LODGEMARK_REGISTRY");
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  std::string savedExplicit = oldExplicit ? oldExplicit : "", savedXdg = oldXdg ? oldXdg : "";
  ::setenv("LODGEMARK_REGISTRY", "/x/y.reg", 1);
  EXPECT_EQ(reg::DefaultHivePath(), "/x/y.reg");
  ::unsetenv("LODGEMARK_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(reg::DefaultHivePath(), "/cfg/lodgemark/HKCU.reg");
  if (oldExplicit) ::setenv("LODGEMARK_REGISTRY", savedExplicit.c_str(), 1);
  if (oldXdg)
    ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace

namespace {
TEST(Registry, ParsesContinuedHexLinesAndRefusesForeignRoots) {
  reg::Hive hive = reg::ParseHive(
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\X]\r\n"
      "\"Bin\"=hex:01,02,\\\r\n  03,04\r\n"
      "; a comment\r\n"
      "\"N\"=dword:0000000a\r\n");
  const reg::Key* key = hive.Find("Software\\X");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Values.at("BIN").second.Data, std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(key->Values.at("N").second.Data, std::string("\x0a\0\0\0", 4));
  EXPECT_THROW(reg::ParseHive("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n"),
               reg::ERegistryException);
  EXPECT_THROW(reg::ParseHive("REGEDIT4\n"), reg::ERegistryException);
}
}  // namespace

namespace {
TEST(Registry, ForeignValueTypesReadAsWrongTypesAndSurviveRewrites) {
  auto store = std::make_shared<reg::MemoryStore>();
  store->Update([](reg::Hive& h) {
    h = reg::ParseHive(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\X]\n"
        "\"Multi\"=hex(7):41,00,00,00,00,00\n"
        "\"Wide\"=hex(b):01,00,00,00,00,00,00,00\n");
  });
  reg::TRegistry r(store);
  ASSERT_TRUE(r.OpenKey("Software\\X", false));
  EXPECT_THROW(r.ReadString("Multi"), reg::ERegistryException);
  EXPECT_THROW(r.ReadInteger("Wide"), reg::ERegistryException);
  r.WriteInteger("N", 1);
  std::string text = reg::SerializeHive(store->Load());
  EXPECT_NE(text.find("\"Multi\"=hex(7):41,00,00,00,00,00"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Wide\"=hex(b):01,00,00,00,00,00,00,00"), std::string::npos) << text;
}
}  // namespace

namespace {

// Runs f and says what escaped it: "" for nothing, "registry" for the layer's
// own error, else the type that should never have left the layer.
template <class F>
std::string WhatEscapes(F f) {
  try {
    f();
    return "";
  } catch (const reg::ERegistryException&) {
    return "registry";
  } catch (const std::exception& e) {
    return typeid(e).name() + std::string(": ") + e.what();
  }
}

TEST(Registry, FilesThatCannotBeReachedGiveTheLayersOwnErrorsOnly) {
  testsupport::ScratchDir dir;
  const std::string loop = dir / "loop";
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  const std::string locked = dir / "locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
  {
    std::ofstream(locked + "/HKCU.reg") << "Windows Registry Editor Version 5.00\n";
  }
  ASSERT_EQ(::chmod(locked.c_str(), 0600), 0);  // readable, but may not be entered
  struct Case {
    const char* what;
    std::string path;
  } cases[] = {
      {"a folder that is a symbolic link to itself", loop + "/HKCU.reg"},
      {"a folder name longer than the system allows",
       (dir / std::string(300, 'x')) + "/HKCU.reg"},
      {"a folder without search permission", locked + "/HKCU.reg"},
  };
  for (const Case& c : cases) {
    if (c.path.starts_with(locked) && ::access(c.path.c_str(), R_OK) == 0)
      continue;  // permissions do not bind this user (root)
    auto store = std::make_shared<reg::FileStore>(c.path);
    EXPECT_EQ(WhatEscapes([&] { store->Load(); }), "registry") << c.what;
    EXPECT_EQ(WhatEscapes([&] { store->Update([](reg::Hive& h) { h.Ensure("A"); }); }),
              "registry")
        << c.what;
    reg::TRegistry r(store);
    bool opened = true;
    EXPECT_EQ(WhatEscapes([&] { opened = r.OpenKey("Software\\Lodgemark\\Valmora", true); }),
              "")
        << c.what;
    EXPECT_FALSE(opened) << c.what;
    EXPECT_EQ(WhatEscapes([&] { r.ReadInteger("MaxAllocation"); }), "registry") << c.what;
    EXPECT_EQ(WhatEscapes([&] { r.WriteInteger("MaxAllocation", 1); }), "registry") << c.what;
    EXPECT_FALSE(r.KeyExists("Software"));
  }
  ::chmod(locked.c_str(), 0700);
}

TEST(Registry, AWriteKeepsEveryOtherValueAsItsTextStands) {
  testsupport::ScratchDir dir;
  const std::string path = dir / "HKCU.reg";
  // Written by another program: characters Windows-1252 lacks in a key, a name
  // and texts, and texts in the UTF-16 form with line breaks and trailing NULs.
  const std::string other =
      "[HKEY_CURRENT_USER\\Software\\\xC5\x81\xC3\xB3" "d\xC5\xBA]\n"
      "\"City\"=\"\xC5\x81\xC3\xB3" "d\xC5\xBA \xE4\xB8\xAD\"\n"
      "\"Note\"=hex(1):61,00,0d,00,0a,00,62,00,00,00,00,00,00,00\n"
      "\"Path\"=hex(2):25,00,41,00,25,00,00,00\n"
      "\"\xC5\x81" "abel\"=\"x\"\n";
  std::ofstream(path, std::ios::binary) << "Windows Registry Editor Version 5.00\n\n" << other;

  reg::TRegistry r(std::make_shared<reg::FileStore>(path));
  ASSERT_TRUE(r.OpenKey("\\Software\\Lodgemark\\Valmora", true));
  r.WriteString("LogIn", "Caf\xE9");
  std::string text = ReadFile(path);
  EXPECT_NE(text.find(other), std::string::npos) << text;
  EXPECT_NE(text.find("\"LogIn\"=\"Caf\xC3\xA9\"\n"), std::string::npos) << text;

  reg::TRegistry again(std::make_shared<reg::FileStore>(path));
  ASSERT_TRUE(again.OpenKey("Software\\Lodgemark\\Valmora", false));
  EXPECT_EQ(again.ReadString("LogIn"), "Caf\xE9");

  // A text with a line break keeps its trailing NULs across a rewrite; one
  // terminator ends it in the file.
  r.WriteString("Multi", std::string("a\r\nb\0\0", 6));
  r.WriteInteger("Other", 1);
  EXPECT_EQ(r.ReadString("Multi"), std::string("a\r\nb\0\0", 6));
  EXPECT_NE(ReadFile(path).find("\"Multi\"=hex(1):61,00,0d,00,0a,00,62,00,00,00,00,00,00,00\n"),
            std::string::npos);
}

TEST(Registry, AWriteStoppedByAFailedFileWriteLeavesTheOldFile) {
  testsupport::ScratchDir dir;
  const std::string path = dir / "HKCU.reg";
  reg::TRegistry r(std::make_shared<reg::FileStore>(path));
  ASSERT_TRUE(r.OpenKey("Software\\Lodgemark\\Valmora", true));
  r.WriteString("LogIn", "before");
  const std::string old = ReadFile(path);

  os::faults::ArmWriteFault(1, os::faults::WriteFault::FailOnce);
  EXPECT_THROW(r.WriteString("LogIn", "after"), reg::ERegistryException);
  os::faults::DisarmWriteFault();
  EXPECT_EQ(os::faults::WritesCounted(), 1u);  // the hook saw the hive's write
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_FALSE(fs::exists(path + ".tmp"));  // no half-made replacement left
  EXPECT_EQ(r.ReadString("LogIn"), "before");

  r.WriteString("LogIn", "after");
  EXPECT_EQ(r.ReadString("LogIn"), "after");
}

}  // namespace
