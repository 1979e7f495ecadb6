#include <gtest/gtest.h>

#include "console/command_line.h"
#include "core/version.h"

namespace quorvel {
namespace {

CommandLine Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

TEST(CommandLineTest, NoArgumentRunsTheDefaultConfiguration) {
    auto c = Parse({});
    EXPECT_EQ(c.kind, CommandKind::Run);
    EXPECT_FALSE(c.config.has_value());
}

TEST(CommandLineTest, CommandsIgnoreLetterCase) {
    EXPECT_EQ(Parse({"/SERVICE"}).kind, CommandKind::Service);
    EXPECT_EQ(Parse({"/Start"}).kind, CommandKind::Start);
    EXPECT_EQ(Parse({"/sToP"}).kind, CommandKind::Stop);
    EXPECT_EQ(Parse({"/INSTALL"}).kind, CommandKind::Install);
    EXPECT_EQ(Parse({"/Remove"}).kind, CommandKind::Remove);
    EXPECT_EQ(Parse({"/?"}).kind, CommandKind::Usage);
    EXPECT_EQ(Parse({"--help"}).kind, CommandKind::Usage);
    EXPECT_EQ(Parse({"-h"}).kind, CommandKind::Usage);
    EXPECT_EQ(Parse({"--version"}).kind, CommandKind::Version);
}

TEST(CommandLineTest, ForceBelongsToOnceAndComesFirst) {
    auto c = Parse({"/ONCE", "/Force", "cfg.mon"});
    EXPECT_EQ(c.kind, CommandKind::Once);
    EXPECT_TRUE(c.force);
    EXPECT_EQ(c.config, "cfg.mon");
    // After the file it is nothing; before another command's file it is a file.
    c = Parse({"--once", "cfg.mon", "/force"});
    EXPECT_FALSE(c.force);
    EXPECT_EQ(c.config, "cfg.mon");
    c = Parse({"/check", "/force"});
    EXPECT_EQ(c.kind, CommandKind::Check);
    EXPECT_EQ(c.config, "/force");
    EXPECT_FALSE(Parse({"/describe"}).config.has_value());
}

TEST(CommandLineTest, OnlyTheFirstArgumentIsACommand) {
    auto c = Parse({"cfg.mon", "/install"});
    EXPECT_EQ(c.kind, CommandKind::Run);
    EXPECT_EQ(c.config, "cfg.mon");
    // An unknown switch is a configuration file name.
    c = Parse({"/foo"});
    EXPECT_EQ(c.kind, CommandKind::Run);
    EXPECT_EQ(c.config, "/foo");
    // A path that merely starts like a command is no command.
    EXPECT_EQ(Parse({"/services.mon"}).kind, CommandKind::Run);
    EXPECT_EQ(Parse({"/install", "extra", "more"}).kind, CommandKind::Install);
    // A first -q asks for a quiet log; the rest is read as without it.
    c = Parse({"-q", "cfg.mon"});
    EXPECT_TRUE(c.quiet);
    EXPECT_EQ(c.config, "cfg.mon");
    EXPECT_FALSE(Parse({"cfg.mon", "-q"}).quiet);
}

TEST(CommandLineTest, StartArguments) {
    auto c = Parse({"/start"});
    EXPECT_TRUE(c.host.empty());
    EXPECT_FALSE(c.config.has_value());

    c = Parse({"/start", "\\\\server"});
    EXPECT_EQ(c.host, "server");
    EXPECT_FALSE(c.config.has_value());

    c = Parse({"/start", "\\\\server", "cfg.mon", "ignored"});
    EXPECT_EQ(c.host, "server");
    EXPECT_EQ(c.config, "cfg.mon");

    c = Parse({"/start", "cfg.mon", "ignored"});
    EXPECT_TRUE(c.host.empty());
    EXPECT_EQ(c.config, "cfg.mon");

    // One backslash is no computer name: it is the configuration.
    c = Parse({"/start", "\\server", "cfg.mon"});
    EXPECT_TRUE(c.host.empty());
    EXPECT_EQ(c.config, "\\server");

    // Relative paths stay as typed; the service resolves them.
    c = Parse({"/start", "../x/cfg.mon"});
    EXPECT_EQ(c.config, "../x/cfg.mon");
}

TEST(CommandLineTest, StopArguments) {
    auto c = Parse({"/stop", "cfg.mon"});
    EXPECT_EQ(c.kind, CommandKind::Stop);
    EXPECT_TRUE(c.host.empty());
    c = Parse({"/stop", "\\\\host.example"});
    EXPECT_EQ(c.host, "host.example");
    c = Parse({"/stop", "\\host"});
    EXPECT_TRUE(c.host.empty());
}

TEST(CommandLineTest, ServiceTakesAnOptionalConfiguration) {
    EXPECT_FALSE(Parse({"/service"}).config.has_value());
    EXPECT_EQ(Parse({"/service", "a b.mon"}).config, "a b.mon");
}

TEST(UsageTextTest, HasEveryLineWithTheProgramName) {
    std::string text = UsageText("prog");
    EXPECT_EQ(text,
              "Usage:\n"
              "\n"
              ">prog [config file]\n"
              " Start monitoring with specific config file. If no file is supplied\n"
              " then \"default.mon\" file will be loaded.\n"
              "\n"
              ">prog -q [config file]\n"
              " The same; the activity log on standard error shows only errors.\n"
              "\n"
              ">prog /install\n"
              " Install NT service on the local computer.\n"
              "\n"
              ">prog /remove\n"
              " Remove NT service from the local computer.\n"
              "\n"
              ">prog /start [\\\\computer] [config file]\n"
              " Start NT service on the specified computer (local if omitted) and load\n"
              " specific config file. If no file is supplied then \"default.mon\" file\n"
              " will be loaded.\n"
              "\n"
              ">prog /stop [\\\\computer]\n"
              " Stop NT service on the specified computer (local if omitted).\n"
              "\n"
              ">prog /check [config file]\n"
              " Check the config file and start nothing: print each problem with its line\n"
              " and exit with 1 when one is an error, else 0.\n"
              "\n"
              ">prog /once [/force] [config file]\n"
              " Check every item once, run the actions of those whose condition holds,\n"
              " write the caches and exit: 0 when no item acted, 2 when one did, 1 on an\n"
              " error. /force checks the items outside their schedule too.\n"
              "\n"
              ">prog /describe [config file]\n"
              " Print what the items of the config file watch and do.\n"
              "\n"
              ">prog /?\n"
              " This help screen.\n"
              "\n"
              "You can use NT Services Manager to start/stop installed service and to change\n"
              "parameters of the service.\n");
}

TEST(UsageTextTest, ProgramNameWithPercentIsInsertedLiterally) {
    std::string text = UsageText("a%sb");
    EXPECT_NE(text.find(">a%sb /install\n"), std::string::npos);
}

TEST(UsageTextTest, BannerLine) {
    EXPECT_EQ(BannerLine().rfind(std::string("Quorvel ") + kVersion + " [console version], ", 0),
              0u);
    EXPECT_EQ(BannerLine().find('\n'), std::string::npos);
}

TEST(UsageTextTest, ProgramFileName) {
    EXPECT_EQ(ProgramFileName("/usr/local/bin/quorvinsvc"), "quorvinsvc");
    EXPECT_EQ(ProgramFileName("quorvinsvc"), "quorvinsvc");
    EXPECT_EQ(ProgramFileName("/a/b/"), "");
}

TEST(FormatMessageTest, FillsTheFirstPlaceholderOnly) {
    EXPECT_EQ(FormatMessage("Configuration file \"%s\" is loaded.", "/x y.mon"),
              "Configuration file \"/x y.mon\" is loaded.");
    EXPECT_EQ(FormatMessage("%s and %s", "a"), "a and %s");
    EXPECT_EQ(FormatMessage("100%% %s", "b"), "100% b");
    EXPECT_EQ(FormatMessage("no placeholder", "c"), "no placeholder");
}

TEST(FormatMessageTest, HostileFormatsAreHarmless) {
    // A translated text may carry any directive; none reads an argument.
    EXPECT_EQ(FormatMessage("%n%d%x %s %p%", "arg"), "%n%d%x arg %p%");
    // The argument is never itself taken as a format.
    EXPECT_EQ(FormatMessage("[%s]", "%s%n%%"), "[%s%n%%]");
}

}  // namespace
}  // namespace quorvel
