// Locale-aware text: the order in which the engine sorts and compares text, and
// the case mapping of wide text.
//
// Comparison follows the rules the engine's indexes and SQL comparisons were
// built on: a "string sort", in which punctuation and symbols are ordinary
// characters that sort before digits and letters (never ignored), and optional
// case folding, under which case no longer counts but accents still do. Results
// are less, equal or greater. 8-bit text is Windows-1252 and is compared by its
// Unicode form, so an 8-bit text and its wide form always compare the same way.
//
// It runs over ICU collators (alternate handling non-ignorable, tertiary
// strength, or secondary strength to ignore case; canonical equivalents such as a
// precomposed and a combining accent compare equal). The collation locale is a
// process setting, "root" by default, so results do not depend on the machine's
// locale; tests and the locale set-up at load may change it.
//
// Case mapping of wide text is per code point and keeps the length: a character
// whose full mapping would change the length (ß to SS) keeps its simple mapping.
// The 8-bit case mapping lives with the code page (rtl/CodePage.h).
//
// Threads: every function may be called from several threads at once. Each
// thread keeps its own collators, one per locale and strength, made on first
// use. SetCollationLocale takes effect for calls that start after it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rtl/Exception.h"

namespace text {

enum class Order { Less = -1, Equal = 0, Greater = 1 };

// A collator could not be made for the locale (ICU's error name in the message).
class TextError : public rtl::Exception {
  using rtl::Exception::Exception;
};

// Sets the collation locale by its ICU/BCP-47 name ("root", "de", "sv-SE", ...);
// an empty name means "root". A name ICU does not know falls back to the root
// order (ICU's own fallback), it is not an error.
void SetCollationLocale(std::string_view locale);
std::string CollationLocale();

// Compares two wide texts in the collation locale's string sort; with
// `ignoreCase`, letters that differ only in case are equal. Every character of
// both views counts. Throws TextError when no collator can be made.
Order CompareWide(std::u16string_view left, std::u16string_view right, bool ignoreCase);

// The same for Windows-1252 texts, compared by their Unicode form.
Order CompareAnsi(std::string_view left, std::string_view right, bool ignoreCase);

// Forms for zero-terminated buffers with a character count, as the engine keeps
// its values: a negative count means "up to the terminator"; a count of 0 or more
// means "at most that many characters", and the text still ends at a terminator
// inside them, so a count larger than a buffer's text never reads beyond it.
Order CompareWide(const char16_t* left, int32_t leftCount, const char16_t* right,
                  int32_t rightCount, bool ignoreCase);
Order CompareAnsi(const char* left, int32_t leftCount, const char* right, int32_t rightCount,
                  bool ignoreCase);

// Upper- and lower-cases wide text in place, code point by code point; the
// length never changes, and unpaired surrogates are left as they are.
void UpperCaseInPlace(std::span<char16_t> text);
void LowerCaseInPlace(std::span<char16_t> text);
std::u16string UpperCase(std::u16string_view text);
std::u16string LowerCase(std::u16string_view text);

// The index of the character after the one at `index`: index + 2 over a
// surrogate pair, index + 1 otherwise; text.size() when `index` is at or past the
// end.
size_t NextCharIndex(std::u16string_view text, size_t index);

}  // namespace text
