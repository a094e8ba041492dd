// A file manager starts qv with the files a user opened: a motion among them means play.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/player_options.h"

namespace qv {

namespace {

PlayerOptions Parsed(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "qv");
    PlayerOptions options;
    EXPECT_TRUE(ParseOptions(static_cast<int>(arguments.size()), arguments.data(), &options).ok());
    return options;
}

}  // namespace

TEST(PlayerOptions, FilesWithAMotionPlayAsIfPlayWereGiven) {
    EXPECT_TRUE(StartsPlaying(Parsed({"/home/user/model.pmx", "/home/user/dance.vmd"})));
    EXPECT_TRUE(StartsPlaying(Parsed({"dance.vmd"})));
    // A model, a song or a shader alone waits for the user.
    EXPECT_FALSE(StartsPlaying(Parsed({"model.pmx", "song.wav", "effect.hlsl"})));
    EXPECT_FALSE(StartsPlaying(Parsed({})));
    // A name that only looks like a motion in part is none.
    EXPECT_FALSE(StartsPlaying(Parsed({"dance.vmd.bak", "vmd"})));
    EXPECT_TRUE(StartsPlaying(Parsed({"model.pmx", "--play"})));
    EXPECT_TRUE(StartsPlaying(Parsed({"--demo"})));
}

TEST(PlayerOptions, VersionIsAnOptionNotAFile) {
    const PlayerOptions options = Parsed({"--version"});
    EXPECT_TRUE(options.version);
    EXPECT_TRUE(options.files.empty());
}

}  // namespace qv
