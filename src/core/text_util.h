#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvel {

char ToLowerAscii(char c);
std::string ToLowerAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
/// Blanks (space, tab) removed at both ends.
std::string_view TrimBlanks(std::string_view text);
/// Every character of chars removed at both ends.
std::string_view TrimChars(std::string_view text, std::string_view chars);
/// True when c is one of chars.
inline bool IsOneOf(char c, std::string_view chars) {
    return chars.find(c) != std::string_view::npos;
}

/// Reads a decimal integer the way the C runtime's atoi does: leading blanks
/// skipped, an optional sign, digits up to the first non-digit; no digits
/// gives 0. Values beyond the 64-bit range saturate.
long long ReadCInteger(std::string_view text);

/// The text with every control character written as an escape, so that data
/// (a file's name) shown on a terminal or in a journal is inert: C0 controls
/// other than tab, DEL and C1 controls become "\xNN" ("\u009b" for a C1
/// control encoded in UTF-8), and so does every byte that is not part of a
/// valid UTF-8 sequence. With keepLineFeeds, line feeds stay (a carriage
/// return before one goes), for messages of several lines.
std::string EscapeControls(std::string_view text, bool keepLineFeeds = false);

/// Fills each "%s" of a message format with the next argument, in order,
/// and turns "%%" into "%". A "%s" beyond the arguments stays as it is, so
/// a translated text can never make the formatting read what is not there.
std::string FillPlaceholders(std::string_view format,
                             std::initializer_list<std::string_view> arguments);

/// True when text holds a carriage return or a line feed.
inline bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace quorvel
