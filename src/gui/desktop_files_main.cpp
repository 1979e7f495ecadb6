// Writes the installed desktop entry and the ".mon" MIME package, the same
// texts the desktop program writes into a user's home, for the program path
// the installation gives it:
//
//     quorvel_desktop_files /usr/bin/quorvin <output directory>
//
// The directory receives quorvin.desktop and quorvel.xml.

#include <cstdio>
#include <string>

#include "gui/desktop_application.h"
#include "platform/desktop_entry.h"
#include "platform/file_system.h"

int main(int argc, char** argv) {
    using namespace quorvel;
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorvel_desktop_files <program path> <output directory>\n");
        return 2;
    }
    const platform::ApplicationInfo app = gui::DesktopApplication(argv[1]);
    const std::string dir = argv[2];
    platform::CreateDirectories(dir, 0755);
    const std::string entry = dir + "/" + std::string(platform::DesktopNames::kDesktopId);
    const std::string package = dir + "/" + std::string(platform::DesktopNames::kMimePackage);
    if (!platform::WriteFileAtomically(entry, platform::ApplicationEntryText(app), 0644) ||
        !platform::WriteFileAtomically(package, platform::MimePackageText(app), 0644)) {
        std::fprintf(stderr, "quorvel_desktop_files: can not write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
