// Cost of calling a bound method through its generated thunk (Function::Invoke over variants), against
// a direct C++ call and a std::function call of the same method.
#include <benchmark/benchmark.h>

#include <functional>

#include "Base/Reflection/Registration.h"

namespace BindingBench {

struct Mover {
  float speed = 2.0f;
  // Not inlined, so that every variant of the call does the same work besides the dispatch; no state
  // is written, so no store-to-load chain hides the dispatch cost.
  [[gnu::noinline]] float Advance(float dt) const { return speed * dt; }
};

}  // namespace BindingBench

using BindingBench::Mover;
using Base::Reflection::MakeVariant;
using Base::Reflection::Variant;

ORV_ON_LOAD { Base::Reflection::RegisterType<float>("float", true); }

ORV_REFLECT_CLASS(BindingBench::Mover) { ORV_METHOD(Advance); }

static void DirectCall(benchmark::State& state) {
  Mover mover;
  float step = 0.5f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(step);
    float position = mover.Advance(step);
    benchmark::DoNotOptimize(position);
  }
}
BENCHMARK(DirectCall);

static void StdFunctionCall(benchmark::State& state) {
  Mover mover;
  std::function<float(float)> advance = [&mover](float step) { return mover.Advance(step); };
  float step = 0.5f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(step);
    float position = advance(step);
    benchmark::DoNotOptimize(position);
  }
}
BENCHMARK(StdFunctionCall);

static void BoundInvoke(benchmark::State& state) {
  Mover mover;
  // A copy of the registered function, as a caller binding its own object holds one.
  Base::Function advance = *Base::Reflection::TypeOf<Mover>()->methods.at(0).first;
  advance.SetObject(MakeVariant(mover));
  float step = 0.5f;
  float position = 0.0f;
  Variant arg = MakeVariant(step);
  Variant result = MakeVariant(position);
  for (auto _ : state) {
    benchmark::DoNotOptimize(step);
    advance.Invoke(result, &arg, 1);
    benchmark::DoNotOptimize(position);
  }
}
BENCHMARK(BoundInvoke);
