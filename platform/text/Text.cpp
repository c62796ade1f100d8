// ICU implementation of text::. Collators are kept per thread rather than shared,
// so that no compare ever needs a lock and no ICU object is used by two threads.
#include "text/Text.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/utf16.h>

#include <array>
#include <atomic>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "rtl/CodePage.h"

namespace text {

namespace {

std::mutex gLocaleMutex;
std::string gLocale = "root";
std::atomic<uint64_t> gLocaleGeneration{1};

struct CollatorCloser {
  void operator()(UCollator* c) const { ucol_close(c); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

struct ThreadCollators {
  uint64_t generation = 0;  // of the locale copy below; 0 = none read yet
  std::string locale;
  std::map<std::pair<std::string, bool>, CollatorPtr> byLocaleAndCase;
  // The two collators of `locale` (case kept, case ignored) once looked up,
  // so that a compare does no map look-up while the locale stays.
  UCollator* current[2] = {nullptr, nullptr};
};

thread_local ThreadCollators tCollators;

UCollator* OpenCollator(const std::string& locale, bool ignoreCase) {
  UErrorCode status = U_ZERO_ERROR;
  CollatorPtr collator(ucol_open(locale.c_str(), &status));
  // String sort: punctuation and symbols are characters like any other.
  ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  // Secondary strength drops case differences but keeps accents.
  ucol_setAttribute(collator.get(), UCOL_STRENGTH, ignoreCase ? UCOL_SECONDARY : UCOL_TERTIARY,
                    &status);
  ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
  if (U_FAILURE(status) || !collator) {
    throw TextError("Cannot create a collator for locale '" + locale + "': " + u_errorName(status));
  }
  return collator.release();
}

UCollator* Collator(bool ignoreCase) {
  ThreadCollators& cache = tCollators;
  uint64_t generation = gLocaleGeneration.load(std::memory_order_acquire);
  if (cache.generation == generation && cache.current[ignoreCase] != nullptr) {
    return cache.current[ignoreCase];
  }
  if (cache.generation != generation) {
    std::lock_guard guard(gLocaleMutex);
    cache.locale = gLocale;
    cache.generation = gLocaleGeneration.load(std::memory_order_relaxed);
    cache.current[0] = cache.current[1] = nullptr;
  }
  CollatorPtr& slot = cache.byLocaleAndCase[{cache.locale, ignoreCase}];
  if (!slot) slot.reset(OpenCollator(cache.locale, ignoreCase));
  cache.current[ignoreCase] = slot.get();
  return slot.get();
}

int32_t CheckedLength(size_t size) {
  if (size > static_cast<size_t>(INT32_MAX)) throw TextError("Text too long to compare");
  return static_cast<int32_t>(size);
}

Order FromICU(UCollationResult result) {
  switch (result) {
    case UCOL_LESS:
      return Order::Less;
    case UCOL_GREATER:
      return Order::Greater;
    default:
      return Order::Equal;
  }
}

// The length of a zero-terminated text read at most `count` characters far
// (count < 0: no limit).
template <class Char>
size_t BoundedLength(const Char* text, int32_t count) {
  if (text == nullptr) return 0;
  size_t n = 0;
  while ((count < 0 || n < static_cast<size_t>(count)) && text[n] != Char(0)) ++n;
  return n;
}

template <UChar32 (*Map)(UChar32)>
void MapInPlace(std::span<char16_t> text) {
  for (size_t i = 0; i < text.size();) {
    char16_t unit = text[i];
    if (U16_IS_LEAD(unit) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
      UChar32 mapped = Map(U16_GET_SUPPLEMENTARY(unit, text[i + 1]));
      if (U16_LENGTH(mapped) == 2) {
        text[i] = U16_LEAD(mapped);
        text[i + 1] = U16_TRAIL(mapped);
      }
      i += 2;
      continue;
    }
    if (!U16_IS_SURROGATE(unit)) {
      UChar32 mapped = Map(unit);
      if (U16_LENGTH(mapped) == 1) text[i] = static_cast<char16_t>(mapped);
    }
    ++i;
  }
}

}  // namespace

void SetCollationLocale(std::string_view locale) {
  std::lock_guard guard(gLocaleMutex);
  gLocale = locale.empty() ? std::string("root") : std::string(locale);
  gLocaleGeneration.fetch_add(1, std::memory_order_release);
}

std::string CollationLocale() {
  std::lock_guard guard(gLocaleMutex);
  return gLocale;
}

Order CompareWide(std::u16string_view left, std::u16string_view right, bool ignoreCase) {
  return FromICU(ucol_strcoll(Collator(ignoreCase), left.data(), CheckedLength(left.size()),
                              right.data(), CheckedLength(right.size())));
}

Order CompareAnsi(std::string_view left, std::string_view right, bool ignoreCase) {
  // Short texts, the usual keys and values, are converted on the stack.
  constexpr size_t kOnStack = 256;
  if (left.size() > kOnStack || right.size() > kOnStack) {
    return CompareWide(rtl::Win1252ToUtf16(left), rtl::Win1252ToUtf16(right), ignoreCase);
  }
  static const std::array<char16_t, 256> kWide = [] {
    std::array<char16_t, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = rtl::Win1252ToChar16(static_cast<char>(c));
    return table;
  }();
  char16_t leftWide[kOnStack];
  char16_t rightWide[kOnStack];
  auto widen = [](std::string_view from, char16_t* to) {
    for (size_t i = 0; i < from.size(); ++i) to[i] = kWide[static_cast<unsigned char>(from[i])];
    return std::u16string_view(to, from.size());
  };
  return CompareWide(widen(left, leftWide), widen(right, rightWide), ignoreCase);
}

Order CompareWide(const char16_t* left, int32_t leftCount, const char16_t* right,
                  int32_t rightCount, bool ignoreCase) {
  return CompareWide(std::u16string_view(left, BoundedLength(left, leftCount)),
                     std::u16string_view(right, BoundedLength(right, rightCount)), ignoreCase);
}

Order CompareAnsi(const char* left, int32_t leftCount, const char* right, int32_t rightCount,
                  bool ignoreCase) {
  return CompareAnsi(std::string_view(left, BoundedLength(left, leftCount)),
                     std::string_view(right, BoundedLength(right, rightCount)), ignoreCase);
}

void UpperCaseInPlace(std::span<char16_t> text) { MapInPlace<u_toupper>(text); }

void LowerCaseInPlace(std::span<char16_t> text) { MapInPlace<u_tolower>(text); }

std::u16string UpperCase(std::u16string_view text) {
  std::u16string result(text);
  UpperCaseInPlace(result);
  return result;
}

std::u16string LowerCase(std::u16string_view text) {
  std::u16string result(text);
  LowerCaseInPlace(result);
  return result;
}

size_t NextCharIndex(std::u16string_view text, size_t index) {
  if (index >= text.size()) return text.size();
  if (U16_IS_LEAD(text[index]) && index + 1 < text.size() && U16_IS_TRAIL(text[index + 1])) {
    return index + 2;
  }
  return index + 1;
}

}  // namespace text
