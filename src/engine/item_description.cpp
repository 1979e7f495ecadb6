#include "engine/item_description.h"

#include "actions/date_format.h"
#include "core/text_util.h"
#include "engine/base_monitoring.h"
#include "settings/adv_string_list.h"

namespace quorvel {

namespace {

std::string Text(int index, std::initializer_list<std::string_view> arguments = {}) {
    return FillPlaceholders(Strings().Text(index), arguments);
}

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) {
            out += separator;
        }
        out += part;
    }
    return out;
}

void DescribeSchedule(const BaseMonitoring& item, std::vector<DescriptionLine>& out) {
    const std::string days = item.Params().StringAt("Days");
    const std::string monthDays = item.Params().StringAt("MonthDays");
    const std::string excluded = item.Params().StringAt("ExcludedDates");
    const std::string included = item.Params().StringAt("IncludedDates");
    const bool workHours = item.Params().FlagAt("WorkHours");
    const bool everyDay = days.substr(0, 7) == "1111111";
    if (everyDay && TrimBlanks(monthDays).empty() && TrimBlanks(excluded).empty() &&
        TrimBlanks(included).empty() && !workHours) {
        out.push_back({1, Text(lngDescAnyTime)});
        return;
    }
    if (!everyDay) {
        std::vector<std::string> names;
        const auto& dayNames = DateFormatSettings::System().longDayNames;
        for (std::size_t d = 0; d < 7 && d < days.size(); ++d) {
            if (days[d] == '1') {
                names.push_back(dayNames[d]);
            }
        }
        out.push_back(
            {1, Text(lngDescDays, {names.empty() ? Text(lngDescNoDay) : Join(names, ", ")})});
    }
    if (!TrimBlanks(monthDays).empty()) {
        out.push_back({1, Text(lngDescMonthDays, {monthDays})});
    }
    if (workHours) {
        const auto* windows =
            dynamic_cast<const StringListParam*>(item.Params().Find("TimeInterval"));
        out.push_back({1, Text(lngDescHours, {windows ? Join(windows->Values(), ", ") : ""})});
    }
    if (!TrimBlanks(excluded).empty()) {
        out.push_back({1, Text(lngDescExcluded, {excluded})});
    }
    if (!TrimBlanks(included).empty()) {
        out.push_back({1, Text(lngDescIncluded, {included})});
    }
}

void DescribeCondition(const BaseMonitoring& item, std::vector<DescriptionLine>& out) {
    std::vector<std::string> conditions;
    if (item.Kind() == ItemKind::File) {
        conditions.push_back(Text(item.Params().NumberAt("IfChanged") == 1 ? lngDescFileChanged
                                                                           : lngDescFileUnchanged));
        if (item.Params().FlagAt("MustExist")) {
            conditions.push_back(Text(lngDescFileMissing));
        }
    } else if (item.Params().NumberAt("ConditionType") == 1) {
        conditions.push_back(
            Text(lngDescOlder, {std::to_string(item.Params().NumberAt("OlderInterval"))}));
    } else {
        const std::string flags = item.Params().StringAt("Conditions");
        const bool inverse = item.Params().FlagAt("Inverse");
        auto set = [&](std::size_t flag) { return flags.size() > flag && flags[flag] == '1'; };
        for (int flag : set(3) ? std::vector<int>{3} : std::vector<int>{0, 1, 2}) {
            if (set(static_cast<std::size_t>(flag))) {
                conditions.push_back(
                    WithoutAccelerator(Strings().Text(DirectoryConditionCaption(flag, inverse))));
            }
        }
    }
    for (const auto& condition : conditions) {
        out.push_back({1, Text(lngDescCondition, {condition})});
    }
}

}  // namespace

int DirectoryConditionCaption(int flag, bool inverse) {
    static constexpr int kCaptions[4][2] = {{lngChangeCaption, lngNoChangeCaption},
                                            {lngAddCaption, lngNoAddCaption},
                                            {lngDelCaption, lngNoDelCaption},
                                            {lngAnyCaption, lngNoAnyCaption}};
    if (flag < 0 || flag > 3) {
        return lngCount;
    }
    return kCaptions[flag][inverse ? 1 : 0];
}

std::string WithoutAccelerator(std::string_view caption) {
    std::string out;
    out.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += caption[i];
    }
    return out;
}

std::vector<DescriptionLine> DescribeEntry(const BaseMonitoring* item, int number, bool paused) {
    std::vector<DescriptionLine> out;
    const std::string n = std::to_string(number);
    if (item == nullptr) {
        out.push_back({0, Text(lngDescSeparator, {n})});
        return out;
    }
    const BaseMonitoring& it = *item;
    out.push_back({0, Text(lngDescItem, {n, it.FileName()})});
    if (it.Kind() == ItemKind::File) {
        out.push_back({1, Text(lngDescFile)});
    } else {
        out.push_back({1, Text(it.Params().FlagAt("Subdir") ? lngDescTree : lngDescDirectory)});
        out.push_back({1, Text(lngDescMasks, {it.Params().StringAt("Mask")})});
        if (const std::string except = it.Params().StringAt("ExcludeMask"); !except.empty()) {
            out.push_back({1, Text(lngDescExcept, {except})});
        }
    }
    if (!it.Comment().empty()) {
        out.push_back({1, Text(lngDescComment, {it.Comment()})});
    }
    if (paused) {
        out.push_back({1, Text(lngDescPaused)});
    }
    out.push_back({1, Text(lngDescInterval, {std::to_string(it.Interval())})});
    if (it.Kind() == ItemKind::Directory && it.Params().FlagAt("RealTime")) {
        out.push_back({1, Text(lngDescRealTime)});
    }
    DescribeSchedule(it, out);
    DescribeCondition(it, out);
    const auto actions = it.Actions();
    if (actions->empty()) {
        out.push_back({1, Text(lngDescNoActions)});
    }
    for (std::size_t a = 0; a < actions->size(); ++a) {
        const Action& action = *(*actions)[a];
        out.push_back({1, Text(action.Enabled() ? lngDescAction : lngDescActionOff,
                               {std::to_string(a + 1), action.KindCaption(), action.Describe()})});
        if (!action.Comment().empty()) {
            out.push_back({2, Text(lngDescComment, {action.Comment()})});
        }
    }
    return out;
}

}  // namespace quorvel
