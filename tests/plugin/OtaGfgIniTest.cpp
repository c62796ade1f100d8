#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "OtaGfgIni.h"
#include "SettingsFixture.h"
#include "rtl/Exception.h"

using namespace valmora;

namespace {

class Settings : public SettingsFixture {};

TEST_F(Settings, EmptyRegistryGivesEveryDefaultAndCreatesTheKeys) {
  EXPECT_EQ(ReadGridStripeColor(), 0xF0FBFF);
  EXPECT_TRUE(ReadGSTInclusive());
  EXPECT_FALSE(ReadAlwaysAddFixedTax());
  EXPECT_TRUE(ReadFixedTaxFirst());
  EXPECT_TRUE(ReadCumulativeTax());
  EXPECT_TRUE(ReadFixedInPercent());
  std::array<std::string, 6> codes, descriptions;
  std::array<rtl::Currency, 6> rates;
  ReadGSTCodes(codes, rates, descriptions);
  EXPECT_EQ(codes, (std::array<std::string, 6>{"S", "E", "N", "Z", "A", "B"}));
  EXPECT_EQ(rates[0].Raw, 100000);
  EXPECT_EQ(rates[5].Raw, 0);
  EXPECT_EQ(descriptions,
            (std::array<std::string, 6>{"Standard", "Exempt", "Non-Taxable", "", "", ""}));
  bool t2 = true, t3 = true, t4 = true;
  ReadAddTaxFlags(t2, t3, t4);
  EXPECT_FALSE(t2 || t3 || t4);
  EXPECT_EQ(ReadFixedTax().Raw, 0);
  EXPECT_EQ(ReadLanguage(), 1);  // the product title is not "Le Vantel"
  std::array<std::string, 8> names;
  ReadTypeDescriptions9To16(names);
  EXPECT_EQ(names[0], "Type9");
  EXPECT_EQ(names[7], "Type16");
  EXPECT_EQ(ReadLastAutoGenNo(), 1);
  EXPECT_EQ(ReadMaxNoNights(), 32);
  EXPECT_EQ(ReadDefaultArrival(), 0.0);
  EXPECT_EQ(ReadLanguageFile(), "/home/clerk/Documents/Reservation/Lan/Language.sil");
  EXPECT_EQ(ReadDataDir(), "/home/clerk/Documents/Reservation/Database");
  EXPECT_EQ(ReadDataBaseFileName(), "Reservation.vex");
  EXPECT_EQ(ReadLogIn(), "");
  EXPECT_EQ(ReadVendorID(), "");
  EXPECT_EQ(ReadServiceUrl(), DefaultServiceUrl);
  EXPECT_TRUE(ReadServiceUrl().ends_with("/webinterface.php?dialog=v2"));
  EXPECT_TRUE(ReadServiceUrl().starts_with("https://"));
  EXPECT_EQ(ReadRoomId16(), "");
  EXPECT_EQ(ReadStopSale1(), 0);
  EXPECT_EQ(ReadMaxAllocation(), 0);
  EXPECT_EQ(ReadCurrencyCode() + ReadFullFlush() + ReadFlushTime() + ReadAutoCheck(), 0);
  EXPECT_TRUE(ReadRecalcOccupancy());
  EXPECT_TRUE(ReadShowmessage());

  reg::Hive hive = Store->Load();
  for (const char* key : {"ScreenSettings", "GSTSettings", "GSTCode", "GSTLabel", "MainWindow",
                          "Preference", "DataDirectory", "Valmora"}) {
    const reg::Key* k = hive.Find(std::string("Software\\Lodgemark\\") + key);
    ASSERT_NE(k, nullptr) << key;
    EXPECT_TRUE(k->Values.empty()) << key;
  }
}

TEST_F(Settings, OneMissingRateDefaultsTheWholeTaxTable) {
  auto& r = HostKey("GSTCode");
  for (int n = 1; n <= 6; ++n) {
    std::string s = std::to_string(n);
    r.WriteString("GSTCode" + s, "C" + s);
    if (n != 3) r.WriteFloat("GSTRate" + s, 7.5);
    r.WriteString("GSTDescription" + s, "D" + s);
  }
  std::array<std::string, 6> codes, descriptions;
  std::array<rtl::Currency, 6> rates;
  ReadGSTCodes(codes, rates, descriptions);
  EXPECT_EQ(codes[0], "S");
  EXPECT_EQ(rates[1].Raw, 0);
  EXPECT_EQ(descriptions[0], "Standard");

  r.WriteFloat("GSTRate3", 2.25);
  ReadGSTCodes(codes, rates, descriptions);
  EXPECT_EQ(codes[0], "C1");
  EXPECT_EQ(rates[2].Raw, 22500);
  EXPECT_EQ(descriptions[5], "D6");
}

TEST_F(Settings, EmptyTypeNamesTakeTheirOwnDefault) {
  auto& r = HostKey("Preference");
  for (int n = 1; n <= 8; ++n)
    r.WriteString("TypeDesc" + std::to_string(n), "Room " + std::to_string(n));
  r.WriteString("TypeDesc5", "");
  std::array<std::string, 8> names;
  ReadTypeDescriptions1To8(names);
  EXPECT_EQ(names[4], "Type5");
  EXPECT_EQ(names[3], "Room 4");
  // A name stored with another type fails the whole group.
  r.WriteInteger("TypeDesc2", 7);
  ReadTypeDescriptions1To8(names);
  EXPECT_EQ(names[3], "Type4");
}

TEST_F(Settings, PathsExpandTheDocumentsTokenAndFallBackOnWrongTypes) {
  auto& r = HostKey("DataDirectory");
  r.WriteString("DataDir", "{userdocs}\\Hotel");
  EXPECT_EQ(ReadDataDir(), "/home/clerk/Documents\\Hotel");
  r.WriteString("DataDir", "C:\\Data");
  EXPECT_EQ(ReadDataDir(), "C:\\Data");
  r.WriteInteger("DataDir", 5);
  EXPECT_EQ(ReadDataDir(), "/home/clerk/Documents/Reservation/Database");
  EXPECT_EQ(ExpandUserDocs("plain"), "plain");

  ::unsetenv("XDG_DOCUMENTS_DIR");
  const char* home = std::getenv("HOME");
  std::string savedHome = home ? home : "";
  ::unsetenv("HOME");
  try {
    ReadDataDir();
    ADD_FAILURE() << "expected the Documents folder error";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), "Could not determine My Documents path");
  }
  EXPECT_THROW(ExpandUserDocs("plain"), rtl::Exception);
  if (home) ::setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(Settings, StripeColourAcceptsNamesNumbersAndSystemColours) {
  auto& r = HostKey("ScreenSettings");
  const struct {
    const char* text;
    ui::TColor color;
  } cases[] = {
      {"clRed", 0x0000FF},          {"CLBTNFACE", ui::clBtnFace},
      {"$00FF8000", 0x00FF8000},    {"255", 255},
      {"not a colour", 0xF0FBFF},   {"", 0xF0FBFF},
      {"$FF00000F", ui::clBtnFace}, {"4294967295", 0xF0FBFF},
  };
  for (const auto& c : cases) {
    r.WriteString("GridStripeColor", c.text);
    EXPECT_EQ(ReadGridStripeColor(), c.color) << c.text;
  }
}

TEST_F(Settings, LanguageAndNumbersOfWrongTypeDefault) {
  HostKey("MainWindow").WriteString("Language", "3");
  EXPECT_EQ(ReadLanguage(), 1);
  HostKey("MainWindow").WriteInteger("Language", 3);
  EXPECT_EQ(ReadLanguage(), 3);
  HostKey("Preference").WriteFloat("DefaultArrival", 0.625);
  EXPECT_EQ(ReadDefaultArrival(), 0.625);
}

TEST_F(Settings, WritersFailLoudlyWhenTheRegistryRefuses) {
  Store->SetFailWrites(true);
  EXPECT_THROW(WriteLogIn("x"), reg::ERegistryException);
  EXPECT_THROW(WriteCorvantaHasError(true), reg::ERegistryException);
  EXPECT_EQ(ReadLogIn(), "");  // readers still answer
  Store->SetFailWrites(false);
  WriteCorvantaHasError(true);
  WriteCorvantaErrorMsg("Login failed");
  reg::TRegistry r(Store);
  ASSERT_TRUE(r.OpenKey("\\Software\\Lodgemark\\Corvanta", false));
  EXPECT_TRUE(r.ReadBool("CorvantaHasError"));
  EXPECT_EQ(r.ReadString("CorvantaErrorMsg"), "Login failed");
}

TEST_F(Settings, ReadersGiveTheirDefaultsWhenTheFileCannotBeReached) {
  auto dir =
      std::filesystem::temp_directory_path() / ("valmora-unreachable-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  // A folder that is a symbolic link to itself cannot be entered, whoever asks.
  std::filesystem::create_directory_symlink(dir / "loop", dir / "loop");
  reg::SetCurrentUserStore(std::make_shared<reg::FileStore>((dir / "loop" / "HKCU.reg").string()));
  EXPECT_EQ(ReadMaxNoNights(), 32);
  EXPECT_EQ(ReadLogIn(), "");
  EXPECT_TRUE(ReadShowmessage());
  EXPECT_EQ(ReadDataDir(), "/home/clerk/Documents/Reservation/Database");
  std::array<std::string, 8> names;
  ReadTypeDescriptions1To8(names);
  EXPECT_EQ(names[0], "Type1");
  EXPECT_THROW(WriteLogIn("x"), reg::ERegistryException);
  std::filesystem::remove_all(dir);
}

TEST(SettingsFile, RoomMappingSurvivesAcrossStoreObjects) {
  auto dir =
      std::filesystem::temp_directory_path() / ("valmora-settings-" + std::to_string(::getpid()));
  std::string path = (dir / "HKCU.reg").string();
  reg::SetCurrentUserStore(std::make_shared<reg::FileStore>(path));
  void (*writers[16])(const std::string&) = {
      WriteRoomId1,  WriteRoomId2,  WriteRoomId3,  WriteRoomId4,  WriteRoomId5,  WriteRoomId6,
      WriteRoomId7,  WriteRoomId8,  WriteRoomId9,  WriteRoomId10, WriteRoomId11, WriteRoomId12,
      WriteRoomId13, WriteRoomId14, WriteRoomId15, WriteRoomId16};
  std::string (*readers[16])() = {ReadRoomId1,  ReadRoomId2,  ReadRoomId3,  ReadRoomId4,
                                  ReadRoomId5,  ReadRoomId6,  ReadRoomId7,  ReadRoomId8,
                                  ReadRoomId9,  ReadRoomId10, ReadRoomId11, ReadRoomId12,
                                  ReadRoomId13, ReadRoomId14, ReadRoomId15, ReadRoomId16};
  for (int n = 0; n < 16; ++n) writers[n]("V-" + std::to_string(n + 1) + "-\xE9");
  WriteStopSale16(4);
  // A second store object reads the file as another process would.
  reg::SetCurrentUserStore(std::make_shared<reg::FileStore>(path));
  for (int n = 0; n < 16; ++n) EXPECT_EQ(readers[n](), "V-" + std::to_string(n + 1) + "-\xE9");
  EXPECT_EQ(ReadStopSale16(), 4);
  reg::SetCurrentUserStore(nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace
