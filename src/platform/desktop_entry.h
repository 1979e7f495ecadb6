#pragma once

#include <string>
#include <string_view>

namespace quorvel::platform {

// The desktop's side of the program as freedesktop.org describes it: an
// autostart entry that starts the program when the user logs in, and the
// ".mon" file type with the application that opens it. Everything lives in
// the user's own XDG directories ($XDG_CONFIG_HOME, $XDG_DATA_HOME, with
// ~/.config and ~/.local/share when unset); every file is written
// atomically, and a location that cannot be written is skipped.

/// The names Quorvel uses on the desktop.
struct DesktopNames {
    static constexpr std::string_view kDesktopId = "quorvin.desktop";
    static constexpr std::string_view kMimeType = "application/x-quorvel";
    static constexpr std::string_view kGlob = "*.mon";
    static constexpr std::string_view kMimePackage = "quorvel.xml";
    static constexpr std::string_view kIconName = "quorvel";
};

/// What an entry says about the program.
struct ApplicationInfo {
    std::string programPath;  ///< absolute path of the program file
    std::string name;         ///< "Quorvel"
    std::string comment;      ///< one line on what it does
    std::string typeComment;  ///< the file type's description ("Quorvel Document")
};

// ---- start at logon ----

/// $XDG_CONFIG_HOME/autostart/quorvin.desktop.
std::string AutostartEntryPath();
/// True when the desktop starts the program at logon: the user's entry
/// exists and is not hidden or disabled, or, without one, an entry of the
/// system's autostart directories ($XDG_CONFIG_DIRS) does.
bool AutostartEnabled();
/// Writes the user's autostart entry; false when it could not be written.
bool EnableAutostart(const ApplicationInfo& app);
/// Removes the user's autostart entry (none is no error); where a system
/// entry would still start the program, the user's entry hides it instead.
/// False only when a needed change could not be written.
bool DisableAutostart(const ApplicationInfo& app);

// ---- the .mon file type ----

/// $XDG_DATA_HOME/mime/packages/quorvel.xml.
std::string MimePackagePath();
/// $XDG_DATA_HOME/applications/quorvin.desktop.
std::string ApplicationEntryPath();
/// $XDG_DATA_HOME/icons/hicolor/scalable/apps/quorvel.svg.
std::string IconPath();
/// $XDG_CONFIG_HOME/mimeapps.list.
std::string MimeAppsListPath();

/// True when ".mon" files open with this program: the user's MIME package
/// defines the type, and the first default application of the type in the
/// user's mimeapps.list is quorvin.desktop. A default that names another
/// program is another program's association.
bool AssociationPresent();
/// Writes the MIME package (*.mon as application/x-quorvel, a kind of
/// text/plain), the application entry that opens such files, the icon (an
/// SVG document; nothing when empty) and makes the entry the type's default
/// in mimeapps.list, keeping every other line of that file. A file that
/// cannot be written is skipped; false when anything was skipped.
bool WriteAssociation(const ApplicationInfo& app, std::string_view iconSvg);
/// Removes what WriteAssociation wrote: the package, the application entry,
/// the icon and quorvin.desktop from the type's defaults. Another program's
/// default for the type stays. False when anything could not be changed.
bool RemoveAssociation();
/// Tells the desktop that file types changed: runs update-mime-database and
/// update-desktop-database over the user's directories, each where it is
/// installed. False when neither could be run.
bool NotifyAssociationChanged();

// ---- the texts (for tests and packaging) ----

/// The program path as the first word of an Exec line: quoted only when it
/// holds a character the desktop entry format reserves, "%" doubled, and
/// the value escaped as a desktop entry string.
std::string DesktopExecProgram(std::string_view programPath);
/// The application entry (Exec with %f, MimeType) or the autostart entry.
std::string ApplicationEntryText(const ApplicationInfo& app);
std::string AutostartEntryText(const ApplicationInfo& app);
/// The MIME package document.
std::string MimePackageText(const ApplicationInfo& app);

/// The value of a key in the "Default Applications" group of a mimeapps.list
/// text (empty when missing).
std::string DefaultApplications(std::string_view mimeAppsText, std::string_view mimeType);
/// The text with desktopId first among the defaults of mimeType (the group
/// and the key are added where missing); every other line as it was.
std::string WithDefaultApplication(std::string_view mimeAppsText, std::string_view mimeType,
                                   std::string_view desktopId);
/// The text without desktopId among the defaults of mimeType (a key left
/// empty goes); every other line as it was.
std::string WithoutDefaultApplication(std::string_view mimeAppsText, std::string_view mimeType,
                                      std::string_view desktopId);

}  // namespace quorvel::platform
