// ICU-backed implementations of the text helpers.

#include "platform/text.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace korvel {
namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

bool isSpace(UChar32 c) { return u_isUWhiteSpace(c) || c == 0x85; }

}  // namespace

bool isValidUtf8(std::string_view text) {
  int32_t i = 0;
  const int32_t length = static_cast<int32_t>(text.size());
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

size_t graphemeCount(std::string_view text) {
  if (text.empty()) return 0;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  icu::UnicodeString u = fromUtf8(text);
  if (U_FAILURE(status)) return static_cast<size_t>(u.countChar32());
  it->setText(u);
  size_t count = 0;
  for (int32_t p = it->next(); p != icu::BreakIterator::DONE; p = it->next()) ++count;
  return count;
}

std::string graphemePrefix(std::string_view text, size_t count) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  icu::UnicodeString u = fromUtf8(text);
  if (U_FAILURE(status)) return std::string(text);
  it->setText(u);
  int32_t end = 0;
  for (size_t i = 0; i < count; ++i) {
    int32_t p = it->next();
    if (p == icu::BreakIterator::DONE) break;
    end = p;
  }
  return toUtf8(u.tempSubString(0, end));
}

std::string trimWhitespace(std::string_view text) {
  icu::UnicodeString u = fromUtf8(text);
  int32_t start = 0, end = u.length();
  while (start < end && isSpace(u.char32At(start))) start = u.moveIndex32(start, 1);
  while (end > start) {
    int32_t prev = u.moveIndex32(end, -1);
    if (!isSpace(u.char32At(prev))) break;
    end = prev;
  }
  return toUtf8(u.tempSubString(start, end - start));
}

bool isBlank(std::string_view text) { return trimWhitespace(text).empty(); }

std::string foldForSearch(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return lowercase(text);
  icu::UnicodeString decomposed = nfkd->normalize(fromUtf8(text), status);
  icu::UnicodeString stripped;
  for (int32_t i = 0; i < decomposed.length();) {
    UChar32 c = decomposed.char32At(i);
    if (u_charType(c) != U_NON_SPACING_MARK) stripped.append(c);
    i = decomposed.moveIndex32(i, 1);
  }
  stripped.foldCase();
  icu::UnicodeString composed = nfc->normalize(stripped, status);
  if (U_FAILURE(status)) return lowercase(text);
  return toUtf8(composed);
}

std::string lowercase(std::string_view text) {
  icu::UnicodeString u = fromUtf8(text);
  u.toLower(icu::Locale::getRoot());
  return toUtf8(u);
}

size_t scalarCount(std::string_view text) { return static_cast<size_t>(fromUtf8(text).countChar32()); }

bool isLettersMarksDigits(std::string_view text, std::string_view alsoAllowed) {
  int32_t i = 0;
  const int32_t length = static_cast<int32_t>(text.size());
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
    if (c < 0x80 && alsoAllowed.find(static_cast<char>(c)) != std::string_view::npos) continue;
    const int32_t mask = U_GET_GC_MASK(c);
    if ((mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) == 0) return false;
  }
  return true;
}

bool containsControlOrLineBreak(std::string_view text) {
  int32_t i = 0;
  const int32_t length = static_cast<int32_t>(text.size());
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) continue;
    const int8_t type = u_charType(c);
    if (type == U_CONTROL_CHAR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR) return true;
  }
  return false;
}

}  // namespace korvel
