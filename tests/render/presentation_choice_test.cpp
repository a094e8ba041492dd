// Adapter and present-mode choices must prefer hardware and never tear under vsync.
#include <gtest/gtest.h>

#include <vector>

#include "render/device/graphics_device.h"
#include "render/device/swap_chain.h"

namespace qv {

namespace {

TEST(ChooseAdapterTest, HardwareBeforeSoftwareAndSoftwareOnlyWhenAlone) {
    const std::vector<AdapterCandidate> mixed{
        {VK_PHYSICAL_DEVICE_TYPE_CPU, true},
        {VK_PHYSICAL_DEVICE_TYPE_INTEGRATED_GPU, false},
        {VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, true},
    };
    EXPECT_EQ(ChooseAdapter(mixed), 2);
    const std::vector<AdapterCandidate> softwareOnly{
        {VK_PHYSICAL_DEVICE_TYPE_DISCRETE_GPU, false},
        {VK_PHYSICAL_DEVICE_TYPE_CPU, true},
    };
    EXPECT_EQ(ChooseAdapter(softwareOnly), 1);
    const std::vector<AdapterCandidate> none{{VK_PHYSICAL_DEVICE_TYPE_CPU, false}};
    EXPECT_EQ(ChooseAdapter(none), -1);
    EXPECT_EQ(ChooseAdapter({}), -1);
}

TEST(ChoosePresentModeTest, VsyncNeverTearsAndTearingNeedsSupport) {
    const std::vector<VkPresentModeKHR> all{VK_PRESENT_MODE_IMMEDIATE_KHR,
                                            VK_PRESENT_MODE_MAILBOX_KHR, VK_PRESENT_MODE_FIFO_KHR};
    const std::vector<VkPresentModeKHR> fifoOnly{VK_PRESENT_MODE_FIFO_KHR};
    EXPECT_EQ(ChoosePresentMode(true, true, all), VK_PRESENT_MODE_FIFO_KHR);
    EXPECT_EQ(ChoosePresentMode(false, true, all), VK_PRESENT_MODE_IMMEDIATE_KHR);
    EXPECT_EQ(ChoosePresentMode(false, false, all), VK_PRESENT_MODE_MAILBOX_KHR);
    EXPECT_EQ(ChoosePresentMode(false, true, fifoOnly), VK_PRESENT_MODE_FIFO_KHR);
}

}  // namespace

}  // namespace qv
