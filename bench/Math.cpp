// Mat4 product and quaternion slerp against the same operations of a reference header library.
#include "Base/Math.h"

#include <benchmark/benchmark.h>
#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <random>
#include <vector>

namespace {

constexpr int kBatch = 256;  // operations per benchmark iteration; per-op time = reported time / 256

struct Inputs {
  std::vector<Base::Mat4> a, b;
  std::vector<Base::Quaternion> p, q;
  std::vector<float> t;
};

// Same values for both libraries; quaternion pairs cover both hemispheres so both arcs are taken.
const Inputs& Data() {
  static const Inputs data = [] {
    Inputs in;
    std::mt19937 gen(42);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < kBatch; ++i) {
      Base::Mat4 a, b;
      for (float& e : a.m) e = u(gen);
      for (float& e : b.m) e = u(gen);
      in.a.push_back(a);
      in.b.push_back(b);
      Base::Quaternion p(u(gen), u(gen), u(gen), u(gen)), q(u(gen), u(gen), u(gen), u(gen));
      in.p.push_back(p.Normalize());
      in.q.push_back(q.Normalize());
      in.t.push_back(0.5f + 0.5f * u(gen));
    }
    return in;
  }();
  return data;
}

void SetPerOp(benchmark::State& state) {
  state.counters["per_op"] = benchmark::Counter(kBatch, benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

void Mat4ProductBase(benchmark::State& state) {
  const Inputs& in = Data();
  std::vector<Base::Mat4> out(kBatch);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) out[i] = in.a[i] * in.b[i];
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetPerOp(state);
}

void Mat4ProductGlm(benchmark::State& state) {
  const Inputs& in = Data();
  std::vector<glm::mat4> a(kBatch), b(kBatch), out(kBatch);
  for (int i = 0; i < kBatch; ++i) {
    // Column-major there: the same floats are the transposes, which costs the same to multiply.
    a[i] = glm::make_mat4(in.a[i].m);
    b[i] = glm::make_mat4(in.b[i].m);
  }
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) out[i] = a[i] * b[i];
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetPerOp(state);
}

void SlerpBase(benchmark::State& state) {
  const Inputs& in = Data();
  std::vector<Base::Quaternion> out(kBatch);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) out[i] = in.p[i].Slerp(in.q[i], in.t[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetPerOp(state);
}

void SlerpGlm(benchmark::State& state) {
  const Inputs& in = Data();
  std::vector<glm::quat> p(kBatch), q(kBatch), out(kBatch);
  for (int i = 0; i < kBatch; ++i) {
    p[i] = glm::quat(in.p[i].w, in.p[i].x, in.p[i].y, in.p[i].z);
    q[i] = glm::quat(in.q[i].w, in.q[i].x, in.q[i].y, in.q[i].z);
  }
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) out[i] = glm::slerp(p[i], q[i], in.t[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  SetPerOp(state);
}

BENCHMARK(Mat4ProductBase);
BENCHMARK(Mat4ProductGlm);
BENCHMARK(SlerpBase);
BENCHMARK(SlerpGlm);

}  // namespace
