// The plug-in's translations: the texts of its dialog and messages in the
// languages of the host's language file ("Language.sil", whose format
// docs/language-file.md describes), looked up by identifier.
//
// A look-up never fails and never gives the empty text for one of the dialog's
// forty identifiers: it takes the active language's text, else the text of the
// file's first language, else the English text built into the plug-in. So a
// file that lacks a language, a line or a cell still leaves every control
// captioned, and so does a host without any language file.
//
// Loading replaces everything the translator held, or, when the file cannot be
// read or is not in the format, raises ELanguageFileError and changes nothing.
//
// Threads: one Translator belongs to the thread that made it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace valmora {

// The identifiers of the dialog's texts, by their index in DialogTexts.
inline constexpr size_t DialogTextCount = 40;
extern const std::array<const char*, DialogTextCount> DialogTextIdentifiers;

// The built-in English text of one of the forty identifiers; null for any other.
const char* BuiltInText(std::string_view identifier);

// The language file cannot be read or breaks its format; the message names the
// file and, for a format error, the line.
class ELanguageFileError : public rtl::Exception {
  using rtl::Exception::Exception;
};

class Translator {
 public:
  // The language names a translator holds before any file names its own.
  static const std::vector<std::string>& DefaultLanguages();

  Translator();
  Translator(const Translator&) = delete;
  Translator& operator=(const Translator&) = delete;

  // Forgets every translation and goes back to the default language names.
  // The active language number stays.
  void Clear();

  // Replaces the languages and translations by those of the file at `path`
  // (UTF-8 text). Raises ELanguageFileError and keeps what it held when the
  // file cannot be read or is not in the format.
  void LoadFromFile(const std::string& path);
  // The same from the file's text; `source` names it in error messages.
  void LoadFromText(std::string_view utf8, std::string_view source);

  // The language names, Windows-1252; language number N is element N - 1.
  const std::vector<std::string>& Languages() const { return FLanguages; }

  // The active language by its 1-based number. Any number is taken: one that
  // names no language of the file looks texts up as if the file had none in
  // that language. Setting another number than the active one runs
  // OnChangeLanguage afterwards.
  void SetActiveLanguage(int32_t number);
  int32_t ActiveLanguage() const { return FActive; }
  std::function<void()> OnChangeLanguage;

  // The text of `identifier` (Windows-1252): the active language's, else the
  // first language's, else the built-in English text, else empty. An empty
  // cell in the file counts as no text.
  std::string Text(std::string_view identifier) const;

 private:
  std::vector<std::string> FLanguages;
  // Identifier -> one text per language, index = language number - 1; shorter
  // than the language list when the line ended early.
  std::map<std::string, std::vector<std::string>, std::less<>> FTexts;
  int32_t FActive = 1;
};

}  // namespace valmora
