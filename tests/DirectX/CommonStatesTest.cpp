// The shared state cache: one set per device, made once, rebuilt after its last holder.
#include "DirectX/CommonStates.h"
#include "DirectX/SharedResourcePool.h"

#include "Platform/Graphics/GpuContext.h"
#include "tests/Support/LogCapture.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using namespace Platform;

GpuRef<GpuDevice> MakeDevice(GpuFeatureLevel level = GpuFeatureLevel_11_0) {
  GpuRef<GpuDevice> device;
  EXPECT_EQ(CreateGpuDevice(GpuDriverType::Hardware, &level, 1, device.GetAddressOf(), nullptr, nullptr), kGpuOk);
  return device;
}

TEST(CommonStates, OneDeviceSharesOneSetAndOtherDevicesGetTheirOwn) {
  GpuRef<GpuDevice> first = MakeDevice(), second = MakeDevice();
  DirectX::CommonStates a(first.Get()), b(first.Get()), c(second.Get());
  EXPECT_EQ(a.PremultipliedAlphaBlend(), b.PremultipliedAlphaBlend());
  EXPECT_EQ(a.LinearWrapSampler(), b.LinearWrapSampler());
  EXPECT_NE(a.PremultipliedAlphaBlend(), c.PremultipliedAlphaBlend());
  EXPECT_NE(a.DepthReadOnly(), c.DepthReadOnly());
  EXPECT_EQ(DirectX::CommonStatesLiveDevices(), 2u);
}

TEST(CommonStates, StatesFollowTheirTableAndTheDevicesLevel) {
  GpuRef<GpuDevice> device = MakeDevice();
  DirectX::CommonStates states(device.Get());
  // The blends' formulas are read back in the renderer's state-set test; here, what only the table says.
  EXPECT_EQ(states.AdditiveBlend()->GetDesc().renderTarget[0].srcBlendAlpha, GpuBlend::SrcAlpha);
  EXPECT_FALSE(states.PremultipliedAlphaBlend()->GetDesc().renderTarget[1].blendEnable);
  EXPECT_FALSE(states.NoDepth()->GetDesc().depthEnable);
  EXPECT_EQ(states.DepthReadOnly()->GetDesc().depthWriteMask, GpuDepthWriteMask::Zero);
  EXPECT_EQ(states.DepthReadOnly()->GetDesc().depthFunc, GpuComparison::LessEqual);
  EXPECT_EQ(states.CullBackFaces()->GetDesc().cullMode, GpuCullMode::Back);
  EXPECT_EQ(states.LinearWrapSampler()->GetDesc().addressU, GpuAddressMode::Wrap);
  EXPECT_EQ(states.LinearClampSampler()->GetDesc().addressW, GpuAddressMode::Clamp);
  EXPECT_EQ(states.LinearClampSampler()->GetDesc().maxAnisotropy, 16u);

  GpuRef<GpuDevice> old = MakeDevice(GpuFeatureLevel_9_1);
  DirectX::CommonStates oldStates(old.Get());
  EXPECT_EQ(oldStates.LinearWrapSampler()->GetDesc().maxAnisotropy, 2u);
}

TEST(CommonStates, TheSetGoesWithItsLastHolderAndIsBuiltAnewAfter) {
  GpuRef<GpuDevice> device = MakeDevice();
  uint64_t before;
  {
    DirectX::CommonStates states(device.Get());
    before = states.CullBackFaces()->Serial();
  }
  EXPECT_EQ(DirectX::CommonStatesLiveDevices(), 0u);
  DirectX::CommonStates again(device.Get());
  EXPECT_NE(again.CullBackFaces()->Serial(), before);
}

TEST(CommonStates, ConcurrentFirstRequestsCreateEachStateOnce) {
  GpuRef<GpuDevice> device = MakeDevice();
  DirectX::CommonStates states(device.Get());
  std::vector<GpuSamplerState*> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      DirectX::CommonStates mine(device.Get());
      seen[t] = mine.LinearClampSampler();
    });
  for (std::thread& t : threads) t.join();
  for (GpuSamplerState* s : seen) EXPECT_EQ(s, states.LinearClampSampler());
}

TEST(CommonStates, AStateTheDeviceRefusesIsLoggedAndNullUntilItCanBeMade) {
  GpuRef<GpuDevice> device = MakeDevice();
  DirectX::CommonStates states(device.Get());
  OrvTest::LogCapture log;
  GetGpuTestHooks().failStateObjects = true;
  EXPECT_EQ(states.DepthReadOnly(), nullptr);
  EXPECT_EQ(states.LinearWrapSampler(), nullptr);
  GetGpuTestHooks().failStateObjects = false;
  EXPECT_EQ(log.Take(),
            "[ Error ][Graphics] Failed to create the common state DepthReadOnly\n"
            "[ Error ][Graphics] Failed to create the common state LinearWrapSampler\n");
  EXPECT_NE(states.DepthReadOnly(), nullptr);
}

struct Counted {
  explicit Counted(int key) : key(key) { ++alive; }
  ~Counted() { --alive; }
  int key;
  static inline int alive = 0;
};

TEST(SharedResourcePool, ObjectsLiveWithTheirHoldersAndMayOutliveThePool) {
  auto pool = std::make_unique<DirectX::SharedResourcePool<int, Counted>>();
  std::shared_ptr<Counted> a = pool->Acquire(1), b = pool->Acquire(1), c = pool->Acquire(2);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(Counted::alive, 2);
  c.reset();
  EXPECT_EQ(Counted::alive, 1);
  EXPECT_EQ(pool->LiveCount(), 1u);
  std::shared_ptr<Counted> again = pool->Acquire(2);
  EXPECT_EQ(again->key, 2);
  pool.reset();  // the map stays with the objects it handed out
  a.reset();
  b.reset();
  again.reset();
  EXPECT_EQ(Counted::alive, 0);
}

}  // namespace
