// Replays every input that ever broke a reader, and the hand-made hostile ones beside them,
// through the same checks the fuzzers run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/fuzz/fuzz_checks.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

using Check = bool (*)(std::span<const std::uint8_t>);

void Replay(const std::string& kind, Check check) {
    const fs::path folder = fs::path(QV_FUZZ_REGRESSIONS) / kind;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        EXPECT_TRUE(check(bytes)) << entry.path();
        ++replayed;
    }
    // An empty folder would pass without testing anything.
    EXPECT_GT(replayed, 0) << folder;
}

}  // namespace

TEST(RegressionCorpus, Pmx) {
    Replay("pmx", CheckPmx);
}
TEST(RegressionCorpus, Pmd) {
    Replay("pmd", CheckPmd);
}
TEST(RegressionCorpus, Vmd) {
    Replay("vmd", CheckVmd);
}
TEST(RegressionCorpus, Vpd) {
    Replay("vpd", CheckVpd);
}
TEST(RegressionCorpus, Wav) {
    Replay("wav", CheckWav);
}
TEST(RegressionCorpus, Audio) {
    Replay("audio", CheckAudio);
}
TEST(RegressionCorpus, X) {
    Replay("x", CheckX);
}
TEST(RegressionCorpus, Dds) {
    Replay("dds", CheckDds);
}
TEST(RegressionCorpus, Image) {
    Replay("image", CheckImage);
}
TEST(RegressionCorpus, Hlsl) {
    Replay("hlsl", CheckHlsl);
}

}  // namespace qv
