#include <gtest/gtest.h>

#include <string>

#include "platform/posix/sound_player_backends.h"
#include "platform/posix/window_list_backends.h"
#include "support/temp_dir.h"

namespace quorvel {
namespace {

// A server without X or sound libraries: the actions that need them find no
// facility, as on a machine without a display or a sound device.
TEST(LoadedLibraryTest, MissingLibrariesMeanNoFacilityAndNoFailure) {
    test::TempDir dir;
    const std::string missing = (dir.Path() / "libquorvel-missing.so.0").string();
    EXPECT_EQ(platform::OpenX11WindowList("", {missing, missing}), nullptr);
    EXPECT_EQ(platform::OpenX11WindowList("", {"libxcb.so.1", missing}), nullptr);

    auto player = platform::OpenAlsaSoundPlayer(missing);
    player->Beep(440, 50);
    player->Play((dir.Path() / "none.wav").string());
    player->Purge();
}

}  // namespace
}  // namespace quorvel
