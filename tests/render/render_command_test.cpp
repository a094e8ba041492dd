// qv render run as a user runs it: files probed with ffprobe, pictures compared.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stb_image.h>
#include <stb_image_write.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/command_output.h"
#include "tests/support/song_writer.h"
#include "tests/support/temp_file.h"
#include "tests/support/x_writer.h"

extern char** environ;

namespace qv {

namespace {

// With the validation layer on: any message from it fails the test.
CommandRun Render(const std::string& arguments) {
    return RunCommand("env QV_VALIDATION=1 '" QV_BINARY "' render " + arguments + " 2>&1");
}

std::string Quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

nlohmann::json Probe(const std::filesystem::path& file) {
    const CommandRun run = RunCommand(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,codec_name,width,height,pix_fmt,nb_read_frames,"
        "duration -of json " +
        Quote(file) + " 2>&1");
    if (run.status != 0) {
        return {};
    }
    return nlohmann::json::parse(run.output, nullptr, false);
}

std::string Bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RenderCommandTest : public ::testing::Test {
protected:
    const TempFolder temp_;
    const std::filesystem::path& folder_ = temp_.path();
};

// Encoded on its own thread with frames in flight, the same render gives the
// same file to the byte; --quality reaches the encoder.
TEST_F(RenderCommandTest, TwoSecondsOfTheDemoProbeAsH264FramesAndTwoSecondsOfSound) {
    const auto video = folder_ / "demo.mp4";
    const std::string demo = " --demo --to 2 --size 160x120";
    const CommandRun run = Render(Quote(video) + demo);
    ASSERT_EQ(run.status, 0) << run.output;
    const CommandRun again = Render(Quote(folder_ / "again.mp4") + demo);
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_TRUE(Bytes(video) == Bytes(folder_ / "again.mp4"));
    // One frame at a time gives the very same file.
    const CommandRun one = Render(Quote(folder_ / "one.mp4") + demo + " --frames-in-flight 1");
    ASSERT_EQ(one.status, 0) << one.output;
    EXPECT_TRUE(Bytes(video) == Bytes(folder_ / "one.mp4"));
    const CommandRun fast = Render(Quote(folder_ / "fast.mp4") + demo + " --quality fast");
    ASSERT_EQ(fast.status, 0) << fast.output;
    EXPECT_FALSE(Bytes(video) == Bytes(folder_ / "fast.mp4"));
    EXPECT_EQ(run.output.find("alidation"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Wrote " + video.string() + ": 60 frames, 0:02.00"),
              std::string::npos)
        << run.output;
    const nlohmann::json probe = Probe(video);
    ASSERT_TRUE(probe.contains("streams")) << run.output;
    int videos = 0, sounds = 0;
    for (const auto& stream : probe["streams"]) {
        if (stream["codec_type"] == "video") {
            ++videos;
            EXPECT_EQ(stream["codec_name"], "h264");
            EXPECT_EQ(stream["pix_fmt"], "yuv420p");
            EXPECT_EQ(stream["width"], 160);
            EXPECT_EQ(stream["height"], 120);
            EXPECT_EQ(stream["nb_read_frames"], "60");
        } else if (stream["codec_type"] == "audio") {
            ++sounds;
            EXPECT_EQ(stream["codec_name"], "aac");
            EXPECT_NEAR(std::stod(stream["duration"].get<std::string>()), 2.0, 0.03);
        }
    }
    EXPECT_EQ(videos, 1);
    EXPECT_EQ(sounds, 1);
}

TEST_F(RenderCommandTest, AnAccessoryAloneRendersAndACompressedSongSetsTheLengthAndIsMuxed) {
    // A cube textured plain green, seen face on from 8 units away.
    const std::vector<std::uint8_t> green(4 * 4 * 3, 0);
    std::vector<std::uint8_t> texture = green;
    for (std::size_t i = 1; i < texture.size(); i += 3) {
        texture[i] = 220;
    }
    ASSERT_TRUE(stbi_write_png((folder_ / "cube.png").c_str(), 4, 4, 3, texture.data(), 12));
    std::ofstream(folder_ / "cube.x") << XTexturedCube("cube.png");
    std::string error;
    ASSERT_TRUE(WriteSong(folder_ / "tone.ogg", SongForms()[2], TestTone(44100, 1.0), &error))
        << error;

    const CommandRun picture =
        Render(Quote(folder_ / "f%03d.png") + " " + Quote(folder_ / "cube.x") +
               " --to 0.03 --size 160x120 --camera 8,0,0,0,0,0");
    ASSERT_EQ(picture.status, 0) << picture.output;
    EXPECT_EQ(picture.output.find("alidation"), std::string::npos) << picture.output;
    int w = 0, h = 0, n = 0;
    unsigned char* pixels = stbi_load((folder_ / "f000.png").c_str(), &w, &h, &n, 3);
    ASSERT_NE(pixels, nullptr);
    const unsigned char* centre = pixels + (h / 2 * w + w / 2) * 3;
    EXPECT_GT(centre[1], centre[0] + 60) << int(centre[0]) << " " << int(centre[1]);
    EXPECT_GT(centre[1], centre[2] + 60) << int(centre[2]);
    stbi_image_free(pixels);

    const auto video = folder_ / "cube.mp4";
    const CommandRun run = Render(Quote(video) + " " + Quote(folder_ / "cube.x") + " " +
                                  Quote(folder_ / "tone.ogg") + " --size 160x120");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(": 30 frames, 0:01.00"), std::string::npos) << run.output;
    bool sound = false;
    const nlohmann::json probe = Probe(video);
    ASSERT_TRUE(probe.contains("streams")) << run.output;
    for (const auto& stream : probe["streams"]) {
        if (stream["codec_type"] == "audio") {
            sound = true;
            EXPECT_EQ(stream["codec_name"], "aac");
            EXPECT_NEAR(std::stod(stream["duration"].get<std::string>()), 1.0, 0.03);
        }
    }
    EXPECT_TRUE(sound) << run.output;
}

TEST_F(RenderCommandTest, GeneWithPhysicsRendersTheSameFramesEveryTimeAndAtAnyRate) {
    const std::filesystem::path content(QV_CONTENT);
    const auto model = content / "gene" / "Gene_light.pmx";
    if (!std::filesystem::exists(model)) {
        GTEST_SKIP() << "shared content not found at " << content;
    }
    const std::string files =
        Quote(model) + " " + Quote(content / "gene" / "motion" / "10_impressed.vmd");
    const std::string common = files + " --size 160x120 --from 1 --to 1.2";
    for (const char* run : {"a", "b"}) {
        const CommandRun r = Render(Quote(folder_ / run) + "%03d.png " + common);
        ASSERT_EQ(r.status, 0) << r.output;
    }
    // Drawn one frame at a time, with the GPU idle before each.
    const CommandRun one =
        Render(Quote(folder_ / "one") + "%03d.png " + common + " --frames-in-flight 1");
    ASSERT_EQ(one.status, 0) << one.output;
    const CommandRun fast = Render(Quote(folder_ / "fast") + "%03d.png " + common + " --fps 60");
    ASSERT_EQ(fast.status, 0) << fast.output;
    EXPECT_EQ(fast.output.find("alidation"), std::string::npos) << fast.output;
    for (int f = 0; f < 6; ++f) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.png", f);
        const std::string a = Bytes(folder_ / (std::string("a") + name));
        ASSERT_FALSE(a.empty()) << name;
        EXPECT_EQ(a, Bytes(folder_ / (std::string("b") + name))) << name;
        EXPECT_EQ(a, Bytes(folder_ / (std::string("one") + name))) << name;

        // Frame f at 30 fps is frame 2f at 60 fps.
        std::snprintf(name, sizeof name, "fast%03d.png", 2 * f);
        int w = 0, h = 0, c = 0, w2 = 0, h2 = 0;
        unsigned char* slow =
            stbi_load_from_memory(reinterpret_cast<const unsigned char*>(a.data()),
                                  static_cast<int>(a.size()), &w, &h, &c, 4);
        unsigned char* quick = stbi_load((folder_ / name).c_str(), &w2, &h2, &c, 4);
        ASSERT_TRUE(slow != nullptr && quick != nullptr) << name;
        ASSERT_EQ(w * h, w2 * h2);
        long long off = 0;
        for (int i = 0; i < w * h * 4; ++i) {
            off += std::abs(slow[i] - quick[i]);
        }
        stbi_image_free(slow);
        stbi_image_free(quick);
        // At most a level of brightness on average: the same pose, drawn twice.
        EXPECT_LE(static_cast<double>(off) / (w * h * 4), 1.0) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "a006.png"));
}

TEST_F(RenderCommandTest, BadInputGivesOneLineAndNoFile) {
    const auto video = folder_ / "out.mp4";
    std::ofstream(folder_ / "broken.wav") << "RIFF\x10\0\0\0WAVEjunk";
    std::ofstream(folder_ / "motion.vmd") << "not a motion";
    struct Case {
        std::string arguments;
        std::string says;
    };
    const Case cases[] = {
        {Quote(folder_ / "missing" / "out.mp4") + " --demo", "cannot write"},
        {Quote(folder_ / "missing" / "f%03d.png") + " --demo", "cannot write"},
        {Quote(video) + " --demo --size 20000x20000", "above the device"},
        {Quote(video) + " " + Quote(folder_ / "motion.vmd"), "nothing to render"},
        {Quote(video) + " " + Quote(folder_ / "broken.wav") + " --demo", "cannot be loaded"},
        {Quote(video) + " --demo --from 40", "nothing to render"},
        {Quote(video) + " --demo --shader nope", "knows no shader"},
        {Quote(folder_ / "out.webm") + " --demo", "cannot tell the output format"},
    };
    for (const Case& c : cases) {
        const bool sized = c.arguments.find("--size") != std::string::npos;
        const CommandRun run = Render(c.arguments + (sized ? "" : " --size 160x120"));
        EXPECT_NE(run.status, 0) << c.arguments;
        EXPECT_NE(run.output.find("qv render: "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
        EXPECT_FALSE(std::filesystem::exists(video)) << c.arguments;
    }
}

// Starts qv render in the background, its output into a file.
pid_t Start(const std::vector<std::string>& arguments, const std::filesystem::path& log) {
    std::vector<std::string> all = {QV_BINARY, "render"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST_F(RenderCommandTest, CtrlCFinishesAPlayableVideoOfTheFramesDone) {
    const auto video = folder_ / "stopped.mkv";
    const auto log = folder_ / "log.txt";
    const pid_t pid = Start({video.string(), "--demo", "--size", "320x240"}, log);
    ASSERT_GT(pid, 0);
    // Frames are on disk once the writer's first buffer fills.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto size = [&] {
        std::error_code ec;
        const auto bytes = std::filesystem::file_size(video, ec);
        return ec ? 0 : bytes;
    };
    while (size() < 40000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string output = Bytes(log);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 130) << output;
    EXPECT_NE(output.find("Stopped by Ctrl-C"), std::string::npos) << output;
    // Every frame drawn before Ctrl-C, those in flight too, is in the file.
    const std::size_t said = output.find(video.string() + ": ");
    ASSERT_NE(said, std::string::npos) << output;
    const int frames = std::atoi(output.c_str() + said + video.string().size() + 2);
    const nlohmann::json probe = Probe(video);
    ASSERT_TRUE(probe.contains("streams")) << output;
    for (const auto& stream : probe["streams"]) {
        if (stream["codec_type"] == "video") {
            EXPECT_GT(frames, 0) << output;
            EXPECT_EQ(std::stoi(stream["nb_read_frames"].get<std::string>()), frames);
        }
    }
}

// Frames drawn ahead of a failed write never reach the disk: the pictures
// before it are all there, in order, and none after it.
TEST_F(RenderCommandTest, AFrameThatCannotBeWrittenEndsThePicturesInOrderBeforeIt) {
    std::filesystem::create_directory(folder_ / "f005.png");  // no file can take its place
    const std::string demo = " --demo --to 1 --size 160x120";
    const CommandRun run = Render(Quote(folder_ / "f%03d.png") + demo);
    EXPECT_NE(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("the output was closed after 5 frames"), std::string::npos)
        << run.output;
    const CommandRun whole = Render(Quote(folder_ / "w%03d.png") + demo + " --frames-in-flight 1");
    ASSERT_EQ(whole.status, 0) << whole.output;
    for (int f = 0; f < 30; ++f) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.png", f);
        if (f < 5) {
            EXPECT_EQ(Bytes(folder_ / ("f" + std::string(name))),
                      Bytes(folder_ / ("w" + std::string(name))))
                << name;
        } else if (f > 5) {
            EXPECT_FALSE(std::filesystem::exists(folder_ / ("f" + std::string(name)))) << name;
        }
    }
}

TEST_F(RenderCommandTest, ADiskThatFillsUpMidwayStopsWithAClearLine) {
    // Matroska writes its header at once and then a cluster at a time: on
    // /dev/full the first writes land in the buffer and a later one fails.
    const auto full = folder_ / "full.mkv";
    std::filesystem::create_symlink("/dev/full", full);
    const CommandRun run = Render(Quote(full) + " --demo --to 6 --size 320x240");
    EXPECT_NE(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("the disk is full; the output was closed after "), std::string::npos)
        << run.output;
}

}  // namespace

}  // namespace qv
