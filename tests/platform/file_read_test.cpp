// Whole-file reads must refuse what is not a readable file, and codes print as quoted.
#include "platform/file_read.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "platform/result_code.h"
#include "tests/support/temp_file.h"

namespace qv {

TEST(FileRead, ReadsWholeFilesAndRefusesWhatIsNoFile) {
    const std::vector<std::uint8_t> content = {1, 2, 3, 4, 5};
    TempFile file("a.bin", content);
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(ReadWholeFile(file.path(), bytes), S_OK);
    EXPECT_EQ(bytes, content);
    EXPECT_EQ(ReadWholeFile(file.folder() / "missing", bytes), E_FAIL);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(ReadWholeFile(file.folder(), bytes), E_FAIL);  // a folder
    TempFile empty("e.bin", {});
    EXPECT_EQ(ReadWholeFile(empty.path(), bytes), E_FAIL);
    // A named pipe nothing writes to is refused at once, not waited on.
    const std::filesystem::path pipe = file.folder() / "song.wav";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&pipe] {
        std::vector<std::uint8_t> none;
        return ReadWholeFile(pipe, none);
    });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the read waits for a writer";
        // Be that writer, so the waiting read ends and the test can.
        ::close(::open(pipe.c_str(), O_WRONLY | O_CLOEXEC));
    }
    EXPECT_EQ(read.get(), E_FAIL);
    std::filesystem::remove(pipe);
}

TEST(ResultCode, FormatsAsToolsPrintIt) {
    EXPECT_EQ(FormatResult(E_FAIL), "0x80004005");
    EXPECT_EQ(FormatResult(S_OK), "0x00000000");
    EXPECT_TRUE(Failed(E_INVALIDARG));
    EXPECT_TRUE(Succeeded(S_OK));
}

}  // namespace qv
