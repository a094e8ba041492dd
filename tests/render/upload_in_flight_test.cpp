// A model whose upload is still on the GPU: left out of frames until done, and safe to remove.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "core/vk_struct.h"
#include "scene_render_fixture.h"

namespace qv {

namespace {

using namespace render_test;

// Holds back the work submitted to a queue after it until Open: a wait on a
// timeline semaphore that only the host signals. Whatever was submitted
// before it runs as usual.
class QueueGate {
public:
    explicit QueueGate(const GpuContext& gpu) : device_(gpu.device) {
        auto type =
            VkStruct<VkSemaphoreTypeCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_TYPE_CREATE_INFO);
        type.semaphoreType = VK_SEMAPHORE_TYPE_TIMELINE;
        auto info = VkStruct<VkSemaphoreCreateInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_CREATE_INFO);
        info.pNext = &type;
        EXPECT_EQ(vkCreateSemaphore(device_, &info, nullptr, &semaphore_), VK_SUCCESS);
        const VkSemaphoreSubmitInfo wait = SemaphoreSubmit(semaphore_, 1);
        auto submit = VkStruct<VkSubmitInfo2>(VK_STRUCTURE_TYPE_SUBMIT_INFO_2);
        submit.waitSemaphoreInfoCount = 1;
        submit.pWaitSemaphoreInfos = &wait;
        EXPECT_EQ(vkQueueSubmit2(gpu.queue, 1, &submit, VK_NULL_HANDLE), VK_SUCCESS);
    }
    ~QueueGate() {
        Open();
        vkDeviceWaitIdle(device_);
        vkDestroySemaphore(device_, semaphore_, nullptr);
    }
    QueueGate(const QueueGate&) = delete;
    QueueGate& operator=(const QueueGate&) = delete;

    // May be called from any thread.
    void Open() {
        auto signal = VkStruct<VkSemaphoreSignalInfo>(VK_STRUCTURE_TYPE_SEMAPHORE_SIGNAL_INFO);
        signal.semaphore = semaphore_;
        signal.value = 1;
        if (!IsOpen()) {
            vkSignalSemaphore(device_, &signal);
        }
    }
    bool IsOpen() const {
        std::uint64_t value = 0;
        vkGetSemaphoreCounterValue(device_, semaphore_, &value);
        return value >= 1;
    }

private:
    VkDevice device_;
    VkSemaphore semaphore_ = VK_NULL_HANDLE;
};

class UploadInFlightTest : public SceneRenderTest {
protected:
    UploadInFlightTest() {
        width_ = 320;  // small frames: the model's presence is what is looked at
        height_ = 180;
    }

    void SetUp() override {
        SceneRenderTest::SetUp();
        if (!std::filesystem::exists(Gene() / "Gene_light.pmx")) {
            return;
        }
        // Gene has textures, so even where buffers are written in place its
        // upload has copies for the GPU to run.
        ASSERT_EQ(LoadPmxModel(gene_, Gene() / "Gene_light.pmx"), S_OK);
    }

    SceneRenderer& Renderer() { return *graphics_.sceneRenderer; }

    // A model made as an import makes it: its upload is left in flight.
    ModelInstance* AddModelInFlight(const PmxModel& model) {
        auto instance = std::make_unique<ModelInstance>();
        EXPECT_EQ(CreateModelInstance(*instance, model), S_OK);
        const Result made = Renderer().CreateModel(*instance, model);
        EXPECT_EQ(made.code, S_OK) << made.message;
        scene_.models.push_back({std::move(instance), {}});
        return scene_.models.back().instance.get();
    }

    // Sends the model's copies once its pixels are staged, as the scene
    // update does; true once sent.
    bool SendWhenStaged(const ModelInstance* instance) {
        for (int i = 0; i < 2500; ++i) {
            Renderer().AdvanceUploads();
            const ModelGpu* gpu = Renderer().Find(instance);
            if (gpu == nullptr || gpu->upload == nullptr || gpu->upload->sent) {
                return gpu != nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    CapturedImage LastPresented() {
        CapturedImage image;
        EXPECT_EQ(ctx_.GetPresenter()->ReadBackLastPresented(&image), S_OK);
        return image;
    }

    bool CentreIsWhite(const CapturedImage& image) {
        return IsWhite(image, image.width / 2, image.height / 2);
    }

    PmxModel gene_;
};

TEST_F(UploadInFlightTest, AModelIsDrawnFromTheFirstFrameThatFindsItsUploadDone) {
    REQUIRE_GENE();
    std::optional<QueueGate> gate(std::in_place, Renderer().Gpu());
    ModelInstance* instance = AddModelInFlight(gene_);
    EXPECT_TRUE(Renderer().AwaitsUpload(*instance));
    // Recorded while the textures are readied or the copies wait behind the
    // gate: the model is left out, and neither its buffers nor its unfilled
    // textures are read.
    ASSERT_EQ(RunFrame(ctx_), S_OK);
    EXPECT_TRUE(Renderer().AwaitsUpload(*instance));
    ASSERT_TRUE(SendWhenStaged(instance));
    ASSERT_EQ(RunFrame(ctx_), S_OK);
    EXPECT_TRUE(Renderer().AwaitsUpload(*instance));
    gate->Open();
    WaitForGpu(ctx_);
    EXPECT_TRUE(CentreIsWhite(LastPresented()));
    // The copies are done now, but only a frame's start takes the model in
    // (once its views are made too): that frame draws it, none before.
    EXPECT_TRUE(Renderer().AwaitsUpload(*instance));
    CapturedImage drawn;
    for (int i = 0; i < 100 && Renderer().AwaitsUpload(*instance); ++i) {
        Renderer().AdvanceUploads();
        drawn = Frames(1);
        EXPECT_EQ(CentreIsWhite(drawn), Renderer().AwaitsUpload(*instance)) << "frame " << i;
    }
    EXPECT_FALSE(Renderer().AwaitsUpload(*instance));
    EXPECT_FALSE(CentreIsWhite(drawn));
    gate.reset();
}

TEST_F(UploadInFlightTest, ARemovalWaitsForAnUploadStillInFlightAndTheOtherModelDraws) {
    REQUIRE_GENE();
    AddModel(gene_);
    EXPECT_FALSE(CentreIsWhite(Frames(1)));
    std::optional<QueueGate> gate(std::in_place, Renderer().Gpu());
    ModelInstance* second = AddModelInFlight(gene_);
    ASSERT_TRUE(SendWhenStaged(second));
    ASSERT_EQ(RunFrame(ctx_), S_OK);  // the first model's frame, queued behind the gate
    ASSERT_TRUE(Renderer().AwaitsUpload(*second));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        gate->Open();
    });
    // No frame drew the second model, so nothing but its copies holds it.
    Renderer().ReleaseModel(*second);
    EXPECT_TRUE(gate->IsOpen()) << "the GPU half went while its copies were still queued";
    opener.join();
    EXPECT_EQ(Renderer().Find(second), nullptr);
    scene_.models.pop_back();
    gate.reset();
    EXPECT_FALSE(CentreIsWhite(Frames(2)));
}

}  // namespace

}  // namespace qv
