// The pipeline cache on disk: its file format, and a second renderer start reading what the first
// wrote.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "render/vk/pipeline_cache_file.h"
#include "tests/render/scene_render_fixture.h"

namespace qv {

namespace {

PipelineCacheIdentity SomeDevice() {
    PipelineCacheIdentity identity;
    identity.vendorId = 0x10005;
    identity.deviceId = 7;
    for (unsigned i = 0; i < VK_UUID_SIZE; ++i) {
        identity.uuid[i] = static_cast<std::uint8_t>(i * 3);
    }
    return identity;
}

TEST(PipelineCacheFileTest, OnlyAnIntactFileOfTheSameDeviceAndDriverIsUsed) {
    const std::vector<std::uint8_t> data{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const PipelineCacheIdentity device = SomeDevice();
    const std::vector<std::uint8_t> file = WrapPipelineCache(device, data);
    EXPECT_EQ(UnwrapPipelineCache(device, file), data);

    PipelineCacheIdentity newDriver = device;
    newDriver.uuid[5] ^= 1;
    EXPECT_TRUE(UnwrapPipelineCache(newDriver, file).empty());
    PipelineCacheIdentity otherCard = device;
    otherCard.deviceId = 8;
    EXPECT_TRUE(UnwrapPipelineCache(otherCard, file).empty());

    std::vector<std::uint8_t> damaged = file;
    damaged.back() ^= 0x40;
    EXPECT_TRUE(UnwrapPipelineCache(device, damaged).empty());
    const std::vector<std::uint8_t> cut(file.begin(), file.end() - 1);
    EXPECT_TRUE(UnwrapPipelineCache(device, cut).empty());
    EXPECT_TRUE(UnwrapPipelineCache(device, std::vector<std::uint8_t>(64, 0x51)).empty());
    EXPECT_TRUE(UnwrapPipelineCache(device, {}).empty());
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* before = std::getenv(name); before != nullptr) {
            saved_ = before;
            had_ = true;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (had_) {
            setenv(name_, saved_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

TEST(PipelineCacheFileTest, TheFolderFollowsTheUsersCacheFolder) {
    ScopedVariable home("HOME", "/home/someone");
    {
        ScopedVariable xdg("XDG_CACHE_HOME", "/tmp/some-cache");
        EXPECT_EQ(PipelineCacheFolder(), std::filesystem::path("/tmp/some-cache/qv"));
    }
    ScopedVariable relative("XDG_CACHE_HOME", "relative/not/allowed");
    EXPECT_EQ(PipelineCacheFolder(), std::filesystem::path("/home/someone/.cache/qv"));
}

// Two starts of the renderer on the software device, as two runs of the
// player would: the second finds the first one's pipelines.
TEST(PipelineCacheFileTest, ASecondStartReadsTheCacheAndACorruptFileIsReplaced) {
    TempFolder folder;
    ScopedVariable cacheHome("XDG_CACHE_HOME", folder.path().string());
    const auto file = folder.path() / "qv" / kPipelineCacheFileName;
    auto start = [] {
        EngineContext ctx;
        ctx.Initialize();
        ctx.SetWidth(64);
        ctx.SetHeight(64);
        PlayerGraphics graphics;
        EXPECT_EQ(RegisterPlayer(ctx, graphics), S_OK);
        EXPECT_EQ(CreateGraphicsDevice(ctx, {PresentTarget::Headless, false}).code, S_OK);
        const bool loaded = graphics.sceneRenderer && graphics.sceneRenderer->PipelineCacheLoaded();
        ctx.Teardown();
        return loaded;
    };
    EXPECT_FALSE(start());
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_TRUE(start());

    std::ofstream(file, std::ios::binary | std::ios::trunc) << "not a cache at all";
    EXPECT_FALSE(start());                             // ignored...
    EXPECT_GT(std::filesystem::file_size(file), 64u);  // ...and replaced
    EXPECT_TRUE(start());
}

}  // namespace

}  // namespace qv
