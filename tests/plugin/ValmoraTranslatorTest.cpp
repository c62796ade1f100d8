#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "ValmoraTranslator.h"
#include "support/ScratchDir.h"

namespace {

using valmora::Translator;

TEST(Translator, WithoutAFileEveryDialogIdentifierHasItsBuiltInEnglishText) {
  Translator t;
  EXPECT_EQ(t.Languages(),
            (std::vector<std::string>{"English", "Dutch", "French", "Italian", "Spanish"}));
  std::set<std::string> ids;
  for (const char* id : valmora::DialogTextIdentifiers) {
    ids.insert(id);
    EXPECT_FALSE(t.Text(id).empty()) << id;
    EXPECT_EQ(t.Text(id), valmora::BuiltInText(id)) << id;
  }
  EXPECT_EQ(ids.size(), valmora::DialogTextCount);
  EXPECT_EQ(std::string(valmora::DialogTextIdentifiers[11]), "rsClose");
  EXPECT_EQ(std::string(valmora::DialogTextIdentifiers[39]), "rsTravelAgent");
  EXPECT_EQ(t.Text("rsClose"), "Close");
  EXPECT_EQ(t.Text("rsclose"), "");  // identifiers are compared exactly
  EXPECT_EQ(t.Text("rsUnknown"), "");
}

// A file as a translator writes it: a byte-order mark, CR LF, comments, a
// line that stops early, an empty cell, escapes, characters beyond ASCII.
constexpr char kFixture[] =
    "\xEF\xBB\xBF# Valmora texts\r\n"
    "\r\n"
    "Identifier\tEnglish\tDeutsch\tFran\xC3\xA7"
    "ais\r\n"
    "rsClose\tClose\tSchlie\xC3\x9F"
    "en\tFermer\r\n"
    "rsError\tFailure\r\n"
    "rsInformation\t\tHinweis\r\n"
    "rsRoomNo\t\t\t\r\n"
    "rsDontSelectMore\tAt most\\n365 days\\t(\\\\)\tC:\\Temp\r\n"
    "rsExtra\tExtra \xE2\x82\xAC \xE2\x98\x83\r\n";

TEST(Translator, LooksUpTheActiveLanguageThenTheFirstThenTheBuiltInText) {
  testsupport::ScratchDir dir;
  const std::string path = dir / "Language.sil";
  std::ofstream(path, std::ios::binary) << kFixture;
  Translator t;
  int changes = 0;
  t.OnChangeLanguage = [&] { ++changes; };
  t.LoadFromFile(path);
  EXPECT_EQ(t.Languages(), (std::vector<std::string>{"English", "Deutsch",
                                                     "Fran\xE7"
                                                     "ais"}));
  EXPECT_EQ(changes, 0);

  t.SetActiveLanguage(2);
  EXPECT_EQ(changes, 1);
  t.SetActiveLanguage(2);
  EXPECT_EQ(changes, 1);  // no change, no notice

  struct Case {
    int language;
    const char* id;
    std::string expected;
  };
  const Case cases[] = {
      {2, "rsClose",
       "Schlie\xDF"
       "en"},  // active language
      {3, "rsClose", "Fermer"},
      {2, "rsError", "Failure"},  // line stops early: language 1
      {2, "rsInformation", "Hinweis"},
      {1, "rsInformation", "Information"},  // empty cell: built-in
      {3, "rsInformation", "Information"},
      {2, "rsRoomNo", "Room no."},  // every cell empty
      {1, "rsDontSelectMore", "At most\n365 days\t(\\)"},
      {2, "rsDontSelectMore", "C:\\Temp"},  // other backslashes kept
      {9, "rsClose", "Close"},              // a number the file lacks
      {0, "rsClose", "Close"},
      {2, "rsExtra", "Extra \x80 ?"},        // 1252, '?' for what it lacks
      {2, "rsTravelAgent", "Travel agent"},  // not in the file
  };
  for (const Case& c : cases) {
    t.SetActiveLanguage(c.language);
    EXPECT_EQ(t.Text(c.id), c.expected) << "language " << c.language << ", " << c.id;
  }

  t.Clear();
  EXPECT_EQ(t.Text("rsClose"), "Close");
  EXPECT_EQ(t.Languages().size(), 5u);
  EXPECT_EQ(t.ActiveLanguage(), 2);  // the number stays
}

TEST(Translator, RefusesABrokenFileByLineAndKeepsWhatItHeld) {
  Translator t;
  t.LoadFromText("Identifier\tEnglish\tDeutsch\nrsClose\tClose\tZu\n", "good");
  t.SetActiveLanguage(2);
  struct Case {
    const char* text;
    const char* where;
  };
  const Case cases[] = {
      {"", "line 0: the file holds no header line"},
      {"# only a comment\n\n", "line 2: the file holds no header line"},
      {"Identifier\n", "line 1: the header names no language"},
      {"Identifier\tEnglish\t\n", "line 1: language 2 has no name"},
      {"Identifier\tEnglish\n\tClose\n", "line 2: a line without identifier"},
      {"Identifier\tEnglish\nrsClose\tClose\tZu\n", "line 2: more texts than the 1 languages"},
      {"Identifier\tEnglish\nrsClose\tA\r\n#\nrsClose\tB\n",
       "line 4: 'rsClose' is translated twice"},
  };
  for (const Case& c : cases) {
    try {
      t.LoadFromText(c.text, "Language.sil");
      ADD_FAILURE() << "taken: " << c.text;
    } catch (const valmora::ELanguageFileError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Language file 'Language.sil', ") + c.where);
    }
    EXPECT_EQ(t.Text("rsClose"), "Zu") << c.text;
    EXPECT_EQ(t.Languages().size(), 2u);
  }
  testsupport::ScratchDir dir;
  EXPECT_THROW(t.LoadFromFile(dir / "missing.sil"), valmora::ELanguageFileError);
  EXPECT_THROW(t.LoadFromFile(dir.Path()), valmora::ELanguageFileError);  // a folder
  EXPECT_EQ(t.Text("rsClose"), "Zu");
}

}  // namespace
