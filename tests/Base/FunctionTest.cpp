// Bound functions: call thunks over every parameter kind, their diagnostics, typed calls, and the
// function registry's names, categories, descriptions and duplicate warnings.
#include "Base/Reflection/Registration.h"
#include "Base/TraceLog.h"
#include "tests/Support/LogCapture.h"
#include "tests/Support/RegistriesAsFound.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace FnTest {

int g_calls = 0;

int Twice(int x) {
  ++g_calls;
  return 2 * x;
}
void Append(std::string& text, const std::string& tail) {
  ++g_calls;
  text += tail;
}
std::string Greet(const char* name) {
  ++g_calls;
  return std::string("hi ") + (name ? name : "nobody");
}
void Poke() { ++g_calls; }
void Five(int a, int b, int c, int d, int e) { g_calls += a + b + c + d + e; }

struct Counter {
  int value = 0;
  void Add(int n) { value += n; }
  int Get() const { return value; }
  Counter* Self() { return this; }
  void CopyTo(Counter* other) const {
    if (other) other->value = value;
  }
  void Mix(float f, double d, unsigned u, bool b) { value = int(f + d) + int(u) + (b ? 1000 : 0); }
};
struct Service {
  static Service& Get() {
    static Service one;
    return one;
  }
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

 private:
  Service() = default;
};

struct Other {
  void Add(int) {}
};

}  // namespace FnTest

using namespace Base;
using Base::Reflection::Variant;
using FnTest::Counter;

ORV_ON_LOAD {
  using namespace Base::Reflection;
  RegisterType<int>("int", true);
  RegisterType<unsigned>("unsigned", true);
  RegisterType<float>("float", true);
  RegisterType<double>("double", true);
  RegisterType<bool>("bool", true);
  RegisterType<char*>("char*", true);
  RegisterType<const char*>("const char*", true);
  RegisterType<std::string>("std::string", false);
}

ORV_REFLECT_CLASS(FnTest::Counter) {
  ORV_FIELD(value);
  ORV_METHOD(Add);
  ORV_METHOD(Get, "Value");
}

namespace {

template <auto Fn>
Function Make(const char* name) {
  return Function(MakeSignature<Fn>(), &Thunk<Fn>, name);
}

// Runs `call` with standard error captured and returns what it wrote.
template <class F>
std::string Stderr(F&& call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

TEST(Thunk, UnpacksEveryParameterKindAndStoresResults) {
  FnTest::g_calls = 0;
  int x = 21, out = 0;
  Variant result = Reflection::MakeVariant(out);
  Variant arg = Reflection::MakeVariant(x);
  Make<&FnTest::Twice>("Twice").Invoke(result, &arg, 1);
  EXPECT_EQ(out, 42);

  std::string text = "ab", tail = "cd";
  Variant refs[] = {Variant(&text), Variant(&tail)};
  Variant none;
  Make<&FnTest::Append>("Append").Invoke(none, refs, 2);
  EXPECT_EQ(text, "abcd");  // the reference parameter wrote through

  // A character string travels as the variant's data; the string result is assigned into storage.
  const char* name = "bob";
  Variant chars = Reflection::MakeVariant(name);
  EXPECT_EQ(chars.data, name);
  std::string greeting = "old";
  Variant greetResult(&greeting);
  Function greet = Make<&FnTest::Greet>("Greet");
  greet.Invoke(greetResult, &chars, 1);
  EXPECT_EQ(greeting, "hi bob");
  Variant nullChars(Reflection::TypeOf<const char*>(), nullptr);
  greet.Invoke(greetResult, &nullChars, 1);
  EXPECT_EQ(greeting, "hi nobody");

  // Methods, const methods, pointer parameters, pointer results.
  Counter counter, copy;
  Function add = Make<&Counter::Add>("Counter::Add");
  add.SetObject(Reflection::MakeVariant(counter));
  int five = 5;
  Variant fiveArg = Reflection::MakeVariant(five);
  add.Invoke(none, &fiveArg, 1);
  Function get = Make<&Counter::Get>("Counter::Get");
  get.SetObject(Reflection::MakeVariant(counter));
  get.Invoke(result, nullptr, 0);
  EXPECT_EQ(out, 5);

  Function copyTo = Make<&Counter::CopyTo>("Counter::CopyTo");
  copyTo.SetObject(Reflection::MakeVariant(counter));
  Counter* target = &copy;
  Variant targetArg = Reflection::MakeVariant(target);
  copyTo.Invoke(none, &targetArg, 1);
  EXPECT_EQ(copy.value, 5);

  Function self = Make<&Counter::Self>("Counter::Self");
  self.SetObject(Reflection::MakeVariant(counter));
  Variant pointerResult(Reflection::TypeOf<Counter*>(), nullptr);
  self.Invoke(pointerResult, nullptr, 0);
  EXPECT_EQ(pointerResult.data, &counter);
  // An object that cannot be copied comes back by reference.
  Variant service(Reflection::TypeOf<FnTest::Service>(), nullptr);
  Make<&FnTest::Service::Get>("Service::Get").Invoke(service, nullptr, 0);
  EXPECT_EQ(service.data, &FnTest::Service::Get());

  float f = 1.5f;
  double d = 2.5;
  unsigned u = 10;
  bool b = true;
  Variant mixed[] = {Reflection::MakeVariant(f), Reflection::MakeVariant(d), Reflection::MakeVariant(u),
                     Reflection::MakeVariant(b)};
  Function mix = Make<&Counter::Mix>("Counter::Mix");
  mix.SetObject(Reflection::MakeVariant(counter));
  mix.Invoke(none, mixed, 4);
  EXPECT_EQ(counter.value, 1014);
  EXPECT_EQ(FnTest::g_calls, 4);
}

TEST(Thunk, MisuseIsReportedAndNothingIsCalled) {
  FnTest::g_calls = 0;
  int x = 1, out = 0;
  Variant arg = Reflection::MakeVariant(x);
  Variant args[6] = {arg, arg, arg, arg, arg, arg};
  Variant result = Reflection::MakeVariant(out);
  Function twice = Make<&FnTest::Twice>("Twice");
  Function poke = Make<&FnTest::Poke>("Poke");
  Function five = Make<&FnTest::Five>("Five");

  EXPECT_EQ(Stderr([&] { twice.Invoke(result, args, 2); }), "Base/function/Function(137) : Wrong overload!\n");
  EXPECT_EQ(Stderr([&] { twice.Invoke(result, nullptr, 0); }), "Base/function/Function(137) : Wrong overload!\n");
  EXPECT_EQ(Stderr([&] { poke.Invoke(result, args, 1); }), "Base/function/Function(184) : Wrong overload!\n");
  EXPECT_EQ(Stderr([&] { five.Invoke(result, args, 4); }), "Base/function/Function(224) : Wrong overload!\n");
  EXPECT_EQ(Stderr([&] { Make<&Counter::Get>("Get").Invoke(result, args, 1); }),
            "Base/function/Function(129) : Wrong overload!\n");
  EXPECT_EQ(Stderr([&] { Make<&FnTest::Append>("Append").Invoke(result, args, 3); }),
            "Base/function/Function(200) : Wrong overload!\n");

  // A method without its object, an argument without a value.
  EXPECT_EQ(Stderr([&] { Make<&Counter::Get>("Get").Invoke(result, nullptr, 0); }),
            "Base/function/Function(120) : Method called without an object!\n");
  Variant empty(Reflection::TypeOf<int>(), nullptr);
  EXPECT_EQ(Stderr([&] { twice.Invoke(result, &empty, 1); }),
            "Base/function/Function(121) : Argument 0 has no value!\n");
  EXPECT_EQ(out, 0);
  EXPECT_EQ(FnTest::g_calls, 0);

  // A returning function called without result storage runs and drops its value.
  Variant discard;
  twice.Invoke(discard, &arg, 1);
  Variant noStorage(Reflection::TypeOf<int>(), nullptr);
  twice.Invoke(noStorage, &arg, 1);
  EXPECT_EQ(Stderr([] { Make<&Counter::Self>("Self").Call(); }),
            "Base/function/Function(120) : Method called without an object!\n");
  Counter counter;
  Function self = Make<&Counter::Self>("Self");
  self.SetObject(Reflection::MakeVariant(counter));
  self.Invoke();
  EXPECT_EQ(FnTest::g_calls, 2);

  Function nothing;
  nothing.Invoke();
  nothing.Invoke(result, nullptr, 0);
}

TEST(TypedCall, ChecksCountAndTypesBeforeCalling) {
  Counter counter;
  Function add = Make<&Counter::Add>("Counter::Add");
  add.SetObject(Reflection::MakeVariant(counter));
  add.Call(4);
  EXPECT_EQ(counter.value, 4);

  EXPECT_EQ(Stderr([&] { add.Call(2.0f); }), "Base/function/Function(849) : Argument type error!\n");
  EXPECT_EQ(Stderr([&] { add.Call(1, 2); }), "Base/function/Function(861) : Wrong Overload!\n");
  Function append = Make<&FnTest::Append>("Append");
  EXPECT_EQ(Stderr([&] { append.Call(1); }), "Base/function/Function(848) : Wrong Overload!\n");
  std::string text = "a";
  EXPECT_EQ(Stderr([&] { append.Call(text, 3); }), "Base/function/Function(863) : Argument type error!\n");
  EXPECT_EQ(Stderr([&] { append.Call(1.0, 3); }),
            "Base/function/Function(862) : Argument type error!\n"
            "Base/function/Function(863) : Argument type error!\n");
  EXPECT_EQ(counter.value, 4);

  // Typed calls pass copies: a reference parameter changes the copy, not the caller's value.
  append.Call(text, std::string("b"));
  EXPECT_EQ(text, "a");
  FnTest::g_calls = 0;
  Make<&FnTest::Greet>("Greet").Call("you");
  EXPECT_EQ(FnTest::g_calls, 1);
}

TEST(Function, NamesDropTheirScopeAndAssignmentKeepsTheTargetsName) {
  Function f = Make<&FnTest::Twice>("Base::Math::Twice");
  EXPECT_EQ(f.GetName(), "Twice");
  Function copy(f);
  EXPECT_EQ(copy.GetName(), "Twice");
  Function assigned = Make<&FnTest::Poke>("Mine");
  assigned = f;
  EXPECT_EQ(assigned.GetName(), "Mine");
  EXPECT_EQ(assigned.GetThunk(), f.GetThunk());
  EXPECT_EQ(assigned.GetSignature().GetArg(0), Reflection::TypeOf<int>());
}

// Captures trace-log lines for the registry tests, and puts back what they register: the registries,
// Other's record and the methods listed on Counter's.
class RegistryLog : public ::testing::Test {
 protected:
  RegistryLog() { asFound_.Forget<FnTest::Other>(); }
  ~RegistryLog() override { Reflection::TypeOf<Counter>()->methods = counterMethods_; }

  std::string Take() { return capture_.Take(); }
  OrvTest::RegistriesAsFound asFound_;
  const std::vector<std::pair<Function*, std::string>> counterMethods_ = Reflection::TypeOf<Counter>()->methods;
  OrvTest::LogCapture capture_;
  FunctionRegistry& registry_ = FunctionRegistry::GetInstance();
};

TEST_F(RegistryLog, MethodsAreListedByScriptNameInTheirClassCategory) {
  const Reflection::TypeInfo* counter = Reflection::TypeOf<Counter>();
  const auto* entries = registry_.GetCategoryEntries("Counter");
  ASSERT_NE(entries, nullptr);
  // The two methods bound before main come first; other tests of this binary may have added more.
  ASSERT_GE(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].name, "Add");
  EXPECT_EQ((*entries)[1].name, "Value");
  ASSERT_GE(counter->methods.size(), 2u);
  EXPECT_EQ(counter->methods[1].second, "Value");
  const size_t listed = entries->size();
  const size_t methods = counter->methods.size();

  // Binding again: a second registry entry with a warning, but one listing on the class.
  Function& again = Bind<&Counter::Add>("Counter::Add");
  EXPECT_EQ(Take(),
            "[Verbose][Base] Registered Method Counter::Add with name \"Add\" in category Counter\n"
            "[Warning][Base] Possible registration of the same function twice!\n");
  EXPECT_EQ(&again, (*entries)[0].function);
  EXPECT_EQ(entries->size(), listed + 1);
  EXPECT_EQ(counter->methods.size(), methods);

  // The same name in another class is no duplicate.
  Reflection::RegisterType<FnTest::Other>("Other", false);
  Bind<&FnTest::Other::Add>("Other::Add");
  EXPECT_EQ(Take(), "[Verbose][Base] Registered Method Other::Add with name \"Add\" in category Other\n");
}

TEST_F(RegistryLog, FreeFunctionsCategoriesAndDescriptions) {
  registry_.PushDescription("Doubles a number");
  Function& twice = Bind<&FnTest::Twice>("math:Twice");
  EXPECT_EQ(Take(), "[Verbose][Base] Registered function math:Twice with name Twice in category math\n");
  EXPECT_FALSE(twice.IsMethod());
  EXPECT_EQ(registry_.GetCategoryEntries("math")->back().description, "Doubles a number");

  // A free function takes its own help text; the next method does not inherit it.
  registry_.PushDescription("Pokes");
  Bind<&FnTest::Poke>("Poke");
  EXPECT_EQ(Take(), "[Verbose][Base] Registered function Poke with name Poke in no category\n");
  EXPECT_EQ(registry_.GetEntries().back().description, "Pokes");
  EXPECT_EQ(registry_.GetEntries().back().category, "");
  Bind<&Counter::Mix>("Counter::Mix", "Blend");
  EXPECT_EQ(registry_.GetEntries().back().description, "");
  EXPECT_EQ(registry_.GetEntries().back().name, "Blend");
  Take();

  // The wrong registration call for the kind of function is logged, and registered anyway (a second
  // Function over Get's thunk in Get's category: also a likely duplicate).
  static Function method = Make<&Counter::Get>("Counter::Peek");
  registry_.RegisterFunction(&method, "Counter::Peek");
  EXPECT_EQ(Take(),
            "[Verbose][Base] Registered function Counter::Peek with name Peek in category Counter\n"
            "[Warning][Base] Function Peek is a member function but is being registered with the wrong "
            "function!\n"
            "[Warning][Base] Possible registration of the same function twice!\n");
  static Function loose = Make<&FnTest::Poke>("Loose");
  registry_.RegisterMethod(&loose, "Loose");
  EXPECT_EQ(Take(),
            "[Verbose][Base] Registered Method Loose with name \"Loose\" in category \n"
            "[Warning][Base] Method Loose is not actually a method!\n"
            "[Warning][Base] Possible registration of the same function twice!\n");

  // Categories are found by library name and by type name without the trailing '*'.
  registry_.RegisterCategory(Reflection::TypeOf<Counter*>(), "counter", 1, "Counter functions.");
  const FunctionRegistry::Category* byName = registry_.FindCategory("counter");
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(registry_.FindCategoryByType("Counter"), byName);
  EXPECT_EQ(byName->typeName, "Counter*");
  EXPECT_EQ(byName->description, "Counter functions.");
  EXPECT_EQ(byName->flag, 1);
  EXPECT_EQ(registry_.FindCategory("none"), nullptr);
}

}  // namespace
