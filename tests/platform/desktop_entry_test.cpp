#include "platform/desktop_entry.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace quorvel::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedEnv;

// A home of the test's own; the XDG variables unset, so the defaults below
// the home directory apply, and no system directory is seen.
class DesktopEntryTest : public test::TempDirTest {
protected:
    DesktopEntryTest()
        : m_home("HOME", m_dir.Path().string()),
          m_config("XDG_CONFIG_HOME", nullptr),
          m_data("XDG_DATA_HOME", nullptr),
          m_configDirs("XDG_CONFIG_DIRS", m_dir / "etc-xdg"),
          m_desktop("XDG_CURRENT_DESKTOP", nullptr) {}

    ApplicationInfo App() const {
        return {ExecutablePath(), "Quorvel", "Watches files and directories", "Quorvel Document"};
    }
    bool Valid(const std::string& path) const {
        if (!test::HaveTool("desktop-file-validate")) {
            return true;
        }
        return test::RunTool({"desktop-file-validate", path}) == 0;
    }

    ScopedEnv m_home;
    ScopedEnv m_config;
    ScopedEnv m_data;
    ScopedEnv m_configDirs;
    ScopedEnv m_desktop;
};

TEST_F(DesktopEntryTest, StartAtLogonIsAnAutostartEntryThatComesAndGoes) {
    const std::string entry = m_dir / ".config/autostart/quorvin.desktop";
    EXPECT_EQ(AutostartEntryPath(), entry);
    EXPECT_FALSE(AutostartEnabled());
    EXPECT_TRUE(DisableAutostart(App()));  // nothing there is no error

    ASSERT_TRUE(EnableAutostart(App()));
    EXPECT_TRUE(AutostartEnabled());
    EXPECT_NE(ReadFile(entry).find("\nExec=" + ExecutablePath() + "\n"), std::string::npos);
    EXPECT_TRUE(Valid(entry));
    ASSERT_TRUE(DisableAutostart(App()));
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(AutostartEnabled());

    // An entry of the system's is hidden by one of the user's, not left on.
    m_dir.Write("etc-xdg/autostart/quorvin.desktop",
                "[Desktop Entry]\nType=Application\nName=Quorvel\nExec=quorvin\n");
    EXPECT_TRUE(AutostartEnabled());
    ASSERT_TRUE(DisableAutostart(App()));
    EXPECT_FALSE(AutostartEnabled());
    EXPECT_NE(ReadFile(entry).find("Hidden=true"), std::string::npos);

    // A path the format reserves characters of is quoted and escaped.
    EXPECT_EQ(DesktopExecProgram("/opt/my apps/quor$vel%1"), R"("/opt/my apps/quor\\$vel%%1")");
    EXPECT_EQ(DesktopExecProgram("/usr/bin/quorvin"), "/usr/bin/quorvin");
}

TEST_F(DesktopEntryTest, AssociationOpensMonFilesWithQuorvelAndKeepsTheRestOfMimeapps) {
    const std::string others =
        "# mine\n[Added Associations]\ntext/plain=editor.desktop;\n\n"
        "[Default Applications]\ntext/plain=editor.desktop\n\n[Removed Associations]\n";
    const std::string list = m_dir.Write(".config/mimeapps.list", others);
    EXPECT_FALSE(AssociationPresent());

    ASSERT_TRUE(WriteAssociation(App(), "<svg xmlns=\"http://www.w3.org/2000/svg\"/>"));
    EXPECT_TRUE(AssociationPresent());
    EXPECT_TRUE(fs::exists(m_dir / ".local/share/mime/packages/quorvel.xml"));
    EXPECT_TRUE(fs::exists(m_dir / ".local/share/icons/hicolor/scalable/apps/quorvel.svg"));
    EXPECT_TRUE(Valid(ApplicationEntryPath()));
    EXPECT_EQ(ReadFile(list),
              "# mine\n[Added Associations]\ntext/plain=editor.desktop;\n\n"
              "[Default Applications]\ntext/plain=editor.desktop\n"
              "application/x-quorvel=quorvin.desktop;\n\n[Removed Associations]\n");
    if (test::HaveTool("xdg-mime")) {
        EXPECT_EQ(test::ToolOutput({"xdg-mime", "query", "default", "application/x-quorvel"}),
                  "quorvin.desktop\n");
    }
    EXPECT_TRUE(NotifyAssociationChanged() || !test::HaveTool("update-mime-database"));
    if (test::HaveTool("update-mime-database")) {
        EXPECT_NE(ReadFile(m_dir / ".local/share/mime/globs2").find("application/x-quorvel:*.mon"),
                  std::string::npos);
    }

    ASSERT_TRUE(RemoveAssociation());
    EXPECT_FALSE(AssociationPresent());
    EXPECT_EQ(ReadFile(list), others);
    EXPECT_FALSE(fs::exists(MimePackagePath()));
    EXPECT_FALSE(fs::exists(ApplicationEntryPath()));
    EXPECT_FALSE(fs::exists(IconPath()));

    // Another program's default for the type is not Quorvel's to remove.
    const std::string taken = "[Default Applications]\napplication/x-quorvel=other.desktop;\n";
    EXPECT_EQ(WithoutDefaultApplication(taken, "application/x-quorvel", "quorvin.desktop"), taken);
    EXPECT_EQ(WithDefaultApplication(taken, "application/x-quorvel", "quorvin.desktop"),
              "[Default Applications]\napplication/x-quorvel=quorvin.desktop;other.desktop;\n");
}

}  // namespace
}  // namespace quorvel::platform
