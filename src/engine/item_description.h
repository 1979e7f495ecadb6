#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class BaseMonitoring;

/// One line of a description: its depth below the heading (0 for the
/// heading) and its text, in the language in force; names unescaped.
struct DescriptionLine {
    int depth = 0;
    std::string text;
};

/// An entry of a configuration as a person reads it: its number and path,
/// then what it watches, its interval and schedule in words, its condition,
/// and each action with the kind's caption and its Describe() text (the
/// texts of the desktop program's rows). item none: a separator.
std::vector<DescriptionLine> DescribeEntry(const BaseMonitoring* item, int number, bool paused);

/// The string table entry of a directory condition: flag 0 changed, 1 added,
/// 2 deleted, 3 any of them; inverse gives the "if no ..." caption.
int DirectoryConditionCaption(int flag, bool inverse);

/// A caption without its accelerator marks: "&" goes, "&&" becomes "&".
std::string WithoutAccelerator(std::string_view caption);

}  // namespace quorvel
