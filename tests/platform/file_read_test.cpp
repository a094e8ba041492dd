// Whole-file reads must refuse what is not a readable file, and codes print as quoted.
#include "platform/file_read.h"

#include <gtest/gtest.h>

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
}

TEST(ResultCode, FormatsAsToolsPrintIt) {
    EXPECT_EQ(FormatResult(E_FAIL), "0x80004005");
    EXPECT_EQ(FormatResult(S_OK), "0x00000000");
    EXPECT_TRUE(Failed(E_INVALIDARG));
    EXPECT_TRUE(Succeeded(S_OK));
}

}  // namespace qv
