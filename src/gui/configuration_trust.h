#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace quorvel {
class MonitorProcess;
}

namespace quorvel::gui {

/// The configurations this user let run: each file's path with a hash of
/// the content it had then, kept in the options store. A changed file is a
/// stranger again.
class ConfigurationTrust {
public:
    static bool IsTrusted(const QString& path, const QByteArray& content);
    /// Remembers the file with this content; false when the store could not
    /// be written.
    static bool Trust(const QString& path, const QByteArray& content);
};

/// The descriptions of the enabled actions that run programs, change files
/// or close programs, in list order, at most limit of them; count receives
/// how many there are in all.
std::vector<std::string> ActionsThatAct(const MonitorProcess& list, std::size_t limit,
                                        std::size_t* count = nullptr);

}  // namespace quorvel::gui
