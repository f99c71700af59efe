// Hook tables with a space's worth of component listeners: registered out of order, removed and added
// again, they still run once each in handle order.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "Base/function/Thunk.h"
#include "Core/Hooks.h"

namespace {

std::vector<int> g_order;

struct Part {
  int id = 0;
  void Step(float) { g_order.push_back(id); }
};

TEST(HooksManyListenersTest, RunInHandleOrderThroughRemovalsAndReuse) {
  constexpr int kParts = 700;
  auto handles = std::make_unique<Base::HandleManager>();
  Core::Hooks space(handles.get());
  const Base::Function step(Base::MakeSignature<&Part::Step>(), &Base::Thunk<&Part::Step>, "Part::Step");
  std::vector<Part> parts(kParts);
  std::vector<Base::Handle> owners;
  for (int i = 0; i < kParts; ++i) {
    parts[i].id = i;
    owners.push_back(handles->Add(&parts[i]));
  }
  // Newest first, then every third one leaves and half of those come back.
  for (int i = kParts; i-- > 0;) space.AddComponentListener("LogicUpdate", owners[i], step);
  std::vector<bool> listening(kParts, true);
  for (int i = 0; i < kParts; i += 3) {
    space.RemoveComponentListener("LogicUpdate", owners[i]);
    listening[i] = false;
  }
  for (int i = 0; i < kParts; i += 6) {
    space.AddComponentListener("LogicUpdate", owners[i], step);
    listening[i] = true;
  }

  std::vector<std::pair<uint32_t, int>> expected;
  for (int i = 0; i < kParts; ++i)
    if (listening[i]) expected.emplace_back(static_cast<uint32_t>(owners[i]), i);
  std::sort(expected.begin(), expected.end());
  std::vector<int> ids;
  for (const auto& entry : expected) ids.push_back(entry.second);

  g_order.clear();
  space.Call("LogicUpdate", 0.016f);
  EXPECT_EQ(g_order, ids);
  EXPECT_EQ(space.Find("LogicUpdate")->ListenerCount(), ids.size());
}

}  // namespace
