// The writer thread behind qv render's output: order, copies, failures and stopping.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/queued_frame_output.h"
#include "formats/captured_image.h"

namespace qv {

namespace {

// What the inner output was given, read once the writer has stopped.
struct Record {
    std::vector<std::uint64_t> indices;
    std::vector<std::uint8_t> firstBytes;
    std::optional<std::uint64_t> finishedWith;
    bool discarded = false;
};

// An output that is slow to write, and fails at one frame if asked.
class FakeOutput final : public FrameOutput {
public:
    FakeOutput(Record* record, std::optional<std::uint64_t> failAt, bool openFails = false)
        : record_(record), failAt_(failAt), openFails_(openFails) {}

    Result Open() override {
        return openFails_ ? Result::Failure(E_FAIL, "cannot write out.mp4") : Result{};
    }
    Result Write(const CapturedImage& image, std::uint64_t index) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(index == failAt_ ? 50 : 2));
        if (index == failAt_) {
            return Result::Failure(E_FAIL, "the disk is full");
        }
        record_->indices.push_back(index);
        record_->firstBytes.push_back(image.rgba.at(0));
        return {};
    }
    Result Finish(std::uint64_t frames) override {
        record_->finishedWith = frames;
        return {};
    }
    void Discard() override { record_->discarded = true; }
    std::uintmax_t BytesWritten() const override { return record_->indices.size(); }

private:
    Record* record_;
    std::optional<std::uint64_t> failAt_;
    bool openFails_;
};

// One picture, reused and changed after every Write as the frame loop does:
// the output must have taken a copy.
struct Source {
    CapturedImage image{2, 2, std::vector<std::uint8_t>(16, 0)};

    Result WriteTo(FrameOutput& output, std::uint64_t index) {
        image.rgba[0] = static_cast<std::uint8_t>(100 + index);
        const Result wrote = output.Write(image, index);
        image.rgba[0] = 0;
        return wrote;
    }
    // The same picture given away: whatever comes back is the caller's to fill.
    Result GiveTo(QueuedFrameOutput& output, std::uint64_t index) {
        image.rgba.assign(16, 0);
        image.rgba[0] = static_cast<std::uint8_t>(100 + index);
        const Result wrote = output.WriteTaking(image, index);
        image.rgba.assign(16, 0);
        return wrote;
    }
};

TEST(QueuedFrameOutputTest, EveryFrameArrivesOnceInOrderAsItWasWhenHandedOver) {
    Record record;
    QueuedFrameOutput output(std::make_unique<FakeOutput>(&record, std::nullopt), 3);
    ASSERT_TRUE(output.Open().ok());
    Source source;
    for (std::uint64_t i = 0; i < 20; ++i) {
        ASSERT_TRUE((i % 3 == 0 ? source.GiveTo(output, i) : source.WriteTo(output, i)).ok()) << i;
    }
    ASSERT_TRUE(output.Finish(20).ok());
    ASSERT_EQ(record.indices.size(), 20u);
    for (std::uint64_t i = 0; i < 20; ++i) {
        EXPECT_EQ(record.indices[i], i);
        EXPECT_EQ(record.firstBytes[i], 100 + i) << i;
    }
    EXPECT_EQ(record.finishedWith, 20u);
    EXPECT_EQ(output.FramesWritten(), 20u);
    EXPECT_EQ(output.BytesWritten(), 20u);
    EXPECT_FALSE(record.discarded);
    EXPECT_GT(output.WriteSeconds(), 0.0);
}

// The frame loop is waiting for room in a full queue when frame 5 fails:
// it is woken with the failure, nothing after frame 5 is written, and the
// output is finished with the five frames before it.
TEST(QueuedFrameOutputTest, AFailedFrameStopsTheWritingAndFinishReportsIt) {
    Record record;
    QueuedFrameOutput output(std::make_unique<FakeOutput>(&record, 5), 2);
    ASSERT_TRUE(output.Open().ok());
    Source source;
    Result failed;
    std::uint64_t handed = 0;
    for (; handed < 100 && failed.ok(); ++handed) {
        failed = source.WriteTo(output, handed);
    }
    EXPECT_EQ(failed.code, E_FAIL);
    EXPECT_EQ(failed.message, "the disk is full");
    EXPECT_LE(handed, 5u + 2u + 1u);  // the queue's depth beyond frame 5, then the refusal
    const Result finished = output.Finish(handed);
    EXPECT_EQ(finished.code, E_FAIL);
    EXPECT_EQ(finished.message, "the disk is full");
    EXPECT_EQ(record.indices, (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(record.finishedWith, 5u);
    EXPECT_EQ(output.FramesWritten(), 5u);

    // A failure the frame loop never saw, after its last frame, still
    // reaches Finish.
    Record late;
    QueuedFrameOutput last(std::make_unique<FakeOutput>(&late, 2), 3);
    ASSERT_TRUE(last.Open().ok());
    for (std::uint64_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(source.WriteTo(last, i).ok());
    }
    EXPECT_EQ(last.Finish(3).message, "the disk is full");
    EXPECT_EQ(late.finishedWith, 2u);
}

TEST(QueuedFrameOutputTest, DiscardOrDestructionStopsTheWriterOnEveryPath) {
    // Discard before the first frame.
    Record early;
    {
        QueuedFrameOutput output(std::make_unique<FakeOutput>(&early, std::nullopt), 3);
        ASSERT_TRUE(output.Open().ok());
        output.Discard();
    }
    EXPECT_TRUE(early.discarded);
    EXPECT_TRUE(early.indices.empty());
    EXPECT_FALSE(early.finishedWith.has_value());

    // An output that never opened starts no writer and takes no frame.
    Record closed;
    {
        QueuedFrameOutput output(std::make_unique<FakeOutput>(&closed, std::nullopt, true), 3);
        EXPECT_EQ(output.Open().message, "cannot write out.mp4");
        Source source;
        EXPECT_FALSE(source.WriteTo(output, 0).ok());
        output.Discard();
    }
    EXPECT_TRUE(closed.discarded);
    EXPECT_TRUE(closed.indices.empty());

    // Frames still queued when the output goes away are dropped, in order.
    Record dropped;
    {
        QueuedFrameOutput output(std::make_unique<FakeOutput>(&dropped, std::nullopt), 3);
        ASSERT_TRUE(output.Open().ok());
        Source source;
        for (std::uint64_t i = 0; i < 6; ++i) {
            ASSERT_TRUE(source.WriteTo(output, i).ok());
        }
    }
    ASSERT_LE(dropped.indices.size(), 6u);
    for (std::size_t i = 0; i < dropped.indices.size(); ++i) {
        EXPECT_EQ(dropped.indices[i], i);
    }
    EXPECT_FALSE(dropped.finishedWith.has_value());
}

}  // namespace

}  // namespace qv
