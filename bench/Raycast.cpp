// Ray casts through a space of 1,000 colliders against the plain alternative: every collider put to
// the same exact test, with the same filters, for the same rays. Compare the two medians.
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "ZarnPhys/PhysicsSpace.h"

namespace {

constexpr int kSide = 10;  // 10 x 10 x 10 colliders, one every 4 units
constexpr float kSpacing = 4.0f;
constexpr int kRays = 256;

struct RaySpec {
  Base::Vec3 origin;
  Base::Vec3 direction;
};

class RayScene {
 public:
  RayScene() {
    space_.Initialize(1.0f / 60.0f);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> jitter(-0.8f, 0.8f);
    for (int i = 0; i < kSide * kSide * kSide; ++i) {
      ZarnPhys::ColliderDescription d;
      ZarnPhys::EntityTransform at;
      at.position = {float(i % kSide) * kSpacing + jitter(random), float(i / kSide % kSide) * kSpacing + jitter(random),
                     float(i / (kSide * kSide)) * kSpacing + jitter(random)};
      at.orientation = Base::Mat3(jitter(random) * 2.0f, Base::Vec3(0.3f, 1.0f, 0.2f));
      switch (i % 3) {
        case 0:
          d.kind = ZarnPhys::ColliderKind_Sphere;
          d.shape[0] = 0.8f;
          d.boundingHalfExtents = {0.8f, 0.8f, 0.8f};
          break;
        case 1:
          d.kind = ZarnPhys::ColliderKind_Cube;
          d.shape[0] = d.shape[1] = d.shape[2] = 0.7f;
          d.boundingHalfExtents = {0.7f, 0.7f, 0.7f};
          break;
        default:
          d.kind = ZarnPhys::ColliderKind_Capsule;
          d.shape[0] = 0.5f;
          d.shape[1] = 0.6f;
          d.boundingHalfExtents = {0.5f, 1.1f, 0.5f};
          break;
      }
      d.groupMask = 1u << (i % 4);
      ZarnPhys::Entity* entity = nullptr;
      entities_.push_back(space_.CreateCollider(&entity, d, at));
    }
    // Rays from around and inside the block, each aimed at a point of the block.
    std::uniform_real_distribution<float> place(-10.0f, kSide * kSpacing + 10.0f);
    std::uniform_real_distribution<float> target(0.0f, (kSide - 1) * kSpacing);
    for (int i = 0; i < kRays; ++i) {
      const Base::Vec3 origin(place(random), place(random), place(random));
      const Base::Vec3 aim(target(random), target(random), target(random));
      rays_.push_back({origin, (aim - origin).Normalized()});
    }
  }

  ZarnPhys::Entity* TreeCast(const RaySpec& r, uint32_t mask) {
    Physics::SystemRaycastResult result;
    return space_.Raycast(result, r.origin, r.direction, nullptr, 0, mask).entity;
  }

  // What the space's cast does, minus the tree: every collider filtered and tested.
  ZarnPhys::Entity* BruteCast(const RaySpec& r, uint32_t mask) const {
    const float length = r.direction.Length();
    const ZarnPhys::Ray ray(r.origin, r.direction / length);
    ZarnPhys::Entity* nearest = nullptr;
    float nearestDistance = FLT_MAX;
    for (ZarnPhys::Entity* entity : entities_) {
      const ZarnPhys::ColliderBase* collider = entity->collider;
      if (collider->GetIgnoreRaycast()) continue;
      if (mask != 0xFFFFFFFFu && (mask & collider->GetGroupMask()) == 0) continue;
      const Physics::SystemRaycastResult hit = ZarnPhys::RayCollider(ray, *collider);
      if (hit.colliding && (!nearest || hit.depth < nearestDistance)) {
        nearest = entity;
        nearestDistance = hit.depth;
      }
    }
    return nearest;
  }

  const std::vector<RaySpec>& Rays() const { return rays_; }

 private:
  ZarnPhys::PhysicsSpace space_;
  std::vector<ZarnPhys::Entity*> entities_;
  std::vector<RaySpec> rays_;
};

RayScene& Scene() {
  static RayScene scene;
  static const bool checked = [] {
    // Both ways must find the same colliders, or the comparison means nothing.
    int hits = 0;
    for (const uint32_t mask : {0xFFFFFFFFu, 0x5u}) {
      for (const RaySpec& r : scene.Rays()) {
        ZarnPhys::Entity* viaTree = scene.TreeCast(r, mask);
        if (viaTree != scene.BruteCast(r, mask)) {
          std::fprintf(stderr, "tree and brute-force casts disagree\n");
          std::abort();
        }
        hits += viaTree != nullptr;
      }
    }
    std::fprintf(stderr, "%d of %d casts hit a collider\n", hits, 2 * kRays);
    return true;
  }();
  (void)checked;
  return scene;
}

template <bool kTree>
void Cast(benchmark::State& state, uint32_t mask) {
  RayScene& scene = Scene();
  for (auto _ : state) {
    for (const RaySpec& r : scene.Rays())
      benchmark::DoNotOptimize(kTree ? scene.TreeCast(r, mask) : scene.BruteCast(r, mask));
  }
  state.SetItemsProcessed(state.iterations() * kRays);
}

void RaycastTree(benchmark::State& state) { Cast<true>(state, 0xFFFFFFFFu); }
void RaycastBruteForce(benchmark::State& state) { Cast<false>(state, 0xFFFFFFFFu); }
void RaycastTreeMasked(benchmark::State& state) { Cast<true>(state, 0x5u); }
void RaycastBruteForceMasked(benchmark::State& state) { Cast<false>(state, 0x5u); }

}  // namespace

BENCHMARK(RaycastTree)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly();
BENCHMARK(RaycastBruteForce)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly();
BENCHMARK(RaycastTreeMasked)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly();
BENCHMARK(RaycastBruteForceMasked)->Unit(benchmark::kMicrosecond)->Repetitions(7)->DisplayAggregatesOnly();
