#pragma once
// Unicode text helpers on UTF-8 strings, through ICU: characters as users count them,
// white-space trimming, and the folding that makes search ignore case, accents and width.

#include <cstddef>
#include <string>
#include <string_view>

namespace korvel {

bool isValidUtf8(std::string_view text);
// User-perceived characters (extended grapheme clusters).
size_t graphemeCount(std::string_view text);
// The first `count` user-perceived characters.
std::string graphemePrefix(std::string_view text, size_t count);
// Strips Unicode white space and newlines from both ends.
std::string trimWhitespace(std::string_view text);
bool isBlank(std::string_view text);
// Case-, diacritic- and width-insensitive form: "Ação" and "ＡＣＡＯ" both become "acao".
std::string foldForSearch(std::string_view text);
std::string lowercase(std::string_view text);
// Unicode scalar count (code points), for limits stated in scalars.
size_t scalarCount(std::string_view text);
// True when every scalar is a letter, mark or digit of any script, or one of the ASCII
// characters in `alsoAllowed`; false for invalid UTF-8.
bool isLettersMarksDigits(std::string_view text, std::string_view alsoAllowed);
// True when the text holds a control character or a line or paragraph separator.
bool containsControlOrLineBreak(std::string_view text);

}  // namespace korvel
