// Scripts calling bound engine methods: argument counts, every conversion both ways, the warnings for
// values of the wrong kind, object type checks, value copies, arrays and per-object fields.
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "Base/Handle.h"
#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Lua/Arrays.h"
#include "LuaFixture.h"

namespace DispatchTest {

// A reference type with a destructor and an over-aligned field, returned by value: Lua keeps a copy.
struct Label {
  std::string text = "a label long enough to live on the heap, not in the string itself";
  alignas(16) float box[4] = {1, 2, 3, 4};
  bool Aligned() const { return reinterpret_cast<uintptr_t>(box) % 16 == 0; }
  std::string Text() const { return text; }
};

struct Probe {
  int id = 0;
  int calls = 0;
  float f = 0;
  double d = 0;
  unsigned u = 0;
  bool b = false;
  std::string text;
  Base::Quaternion rotation;
  std::vector<std::string> words;
  std::vector<Probe*> friends;
  Probe* other = nullptr;

  int Add(int a, int b2) { return a + b2; }
  void Take(float f2, double d2, unsigned u2, bool b2) {
    f = f2, d = d2, u = u2, b = b2;
    ++calls;
  }
  void Name(const char* name) { text = name ? name : "<null>"; }
  std::string Join(const std::string& a, const std::string& b2) { return a + "+" + b2; }
  unsigned Big() { return 3000000000u; }
  unsigned Echo(unsigned value) { return value; }
  float Length(Base::Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
  Base::Vec3 Scale(Base::Vec3 v, float s) { return Base::Vec3(v.x * s, v.y * s, v.z * s); }
  Base::Vec2 Swap(Base::Vec2 v) { return Base::Vec2(v.y, v.x); }
  Base::Quaternion GetRotation() { return rotation; }
  void SetRotation(Base::Quaternion q) { rotation = q; }
  Base::Vec4 Colour() { return Base::Vec4(1, 2, 3, 4); }
  std::vector<std::string> Words() { return words; }
  void SetWords(const std::vector<std::string>& w) { words = w; }
  std::vector<Probe*> Friends() { return friends; }
  void SetFriends(std::vector<Probe*> list) { friends = std::move(list); }
  Probe* Other() { return other; }
  int IdOf(Probe* p) { return p ? p->id : -1; }
  void Poke() { ++calls; }
  Label MakeLabel() { return Label(); }
  Base::Handle EchoHandle(Base::Handle handle) { return handle; }
  void Fail() { throw std::runtime_error("boom"); }
};

// Probe sits behind another base, so using a Special as a Probe needs a real pointer adjustment.
struct Tag {
  virtual ~Tag() = default;
  int tag = 7;
};
struct Special : Tag, Probe {};

struct Stranger {
  int Poke() { return 1; }
};

struct Unlisted {};  // never registered: it has no metatable
struct Keeper {
  Unlisted hidden;
  Unlisted* Hidden() { return &hidden; }
};

}  // namespace DispatchTest

using DispatchTest::Probe;

ORV_REFLECT_CLASS(DispatchTest::Probe) {
  ORV_METHOD(Add);
  ORV_METHOD(Take);
  ORV_METHOD(Name);
  ORV_METHOD(Join);
  ORV_METHOD(Big);
  ORV_METHOD(Echo);
  ORV_METHOD(Length);
  ORV_METHOD(Scale);
  ORV_METHOD(Swap);
  ORV_METHOD(GetRotation);
  ORV_METHOD(SetRotation);
  ORV_METHOD(Colour);
  ORV_METHOD(Words);
  ORV_METHOD(SetWords);
  ORV_METHOD(Friends);
  ORV_METHOD(SetFriends);
  ORV_METHOD(Other);
  ORV_METHOD(IdOf);
  ORV_METHOD(Poke);
  ORV_METHOD(Fail);
  ORV_METHOD(MakeLabel);
  ORV_METHOD(EchoHandle);
}
ORV_REFLECT_CLASS(DispatchTest::Label) {
  ORV_METHOD(Aligned);
  ORV_METHOD(Text);
}
ORV_REFLECT_CLASS(DispatchTest::Special) {}
ORV_REFLECT_CLASS(DispatchTest::Stranger) { ORV_METHOD(Poke); }
ORV_REFLECT_CLASS(DispatchTest::Keeper) { ORV_METHOD(Hidden); }

ORV_ON_LOAD {
  using namespace Base::Reflection;
  RegisterType<std::vector<Probe*>>("std::vector<DispatchTest::Probe*>", false);
  Lua::InstallArrayConverters<Probe*>();
  Lua::DeclareSubclass<DispatchTest::Special, Probe>();
  // Probes answer .Value (their address) and .Id as computed fields.
  Lua::DeclareObjectField(TypeOf<Probe>(), "Value", &Lua::PushObjectAddress);
  Lua::DeclareObjectField(TypeOf<Probe>(), "Id", [](lua_State* state, const Variant& object) {
    lua_pushinteger(state, static_cast<Probe*>(object.data)->id);
  });
}

namespace {

using Base::Reflection::TypeOf;

class Dispatch : public LuaFixture {
 protected:
  void SetUp() override {
    LuaFixture::SetUp();
    probe_.id = 1;
    env_.SetGlobal("probe", Variant(TypeOf<Probe*>(), &probe_));
  }
  Probe probe_;
};

TEST_F(Dispatch, ColonCallsRunAndDotCallsReportTheirCount) {
  EXPECT_EQ(Eval("probe:Add(2, 3)"), "5");
  EXPECT_EQ(Eval("select('#', probe.Add(2, 3))"), "0");  // nothing called, nothing returned
  EXPECT_TRUE(HasLine(Take(), "[ Error ][Lua] Wrong argument count calling function Add from lua"));
  EXPECT_EQ(Eval("select('#', probe:Poke()), select('#', probe:Big())"), "0 1");
}

TEST_F(Dispatch, ScalarsConvertAndValuesOfTheWrongKindWarnAndPassNeutralValues) {
  EXPECT_EQ(Run("probe:Take(1.5, 2.25, 7, true)"), "");
  EXPECT_EQ(probe_.f, 1.5f);
  EXPECT_EQ(probe_.d, 2.25);
  EXPECT_EQ(probe_.u, 7u);
  EXPECT_TRUE(probe_.b);
  Take();

  EXPECT_EQ(Run("probe:Take('abc', {}, nil, 1)"), "");
  EXPECT_EQ(probe_.calls, 2);
  EXPECT_TRUE(probe_.f == 0.0f && probe_.d == 0.0 && probe_.u == 0u && !probe_.b);
  const std::string log = Take();
  EXPECT_TRUE(HasLine(log, "[Warning][Lua] Mismatched argument type lua->C++ (Attempted string -> float)?"));
  EXPECT_TRUE(HasLine(log, "[Warning][Lua] Mismatched argument type lua->C++ (Attempted table -> double)?"));
  EXPECT_TRUE(HasLine(log, "[Warning][Lua] Mismatched argument type lua->C++ (Attempted nil -> unsigned)?"));
  EXPECT_TRUE(HasLine(log, "[Warning][Lua] Mismatched argument type lua->C++ (Attempted number -> bool)?"));

  EXPECT_EQ(Eval("probe:Name(12), probe:Join('a', 'b')"), "nil a+b");
  EXPECT_EQ(probe_.text, "12");  // numbers are strings to Lua
  EXPECT_EQ(Eval("probe:Name({}), probe:Join(true, 'b')"), "nil +b");
  EXPECT_EQ(probe_.text, "");
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Wrong argument type lua->C++ (Attempted table -> constchar*)?"));
}

TEST_F(Dispatch, UnsignedAboveTwoToTheThirtyFirstArrivesNegativeAndGoesBackUnchanged) {
  EXPECT_EQ(Eval("probe:Big(), probe:Echo(probe:Big()), probe:Echo(4294967295)"), "-1294967296 -1294967296 -1");
}

// A number that is no integer of the parameter's type is refused, never truncated into one: the
// warning, and the call is not made.
TEST_F(Dispatch, NumbersThatAreNoIntegersOfTheTypeRefuseTheCall) {
  EXPECT_EQ(Eval("probe:Add(-2147483648, 2147483647), probe:Echo(-1), probe:Echo(4294967295)"), "-1 -1 -1");
  EXPECT_EQ(Take(), "");
  for (const char* number : {"0/0", "1/0", "-1/0", "1.5", "2^31", "-2^31 - 1"}) {
    EXPECT_EQ(Eval(std::string("select('#', probe:Add(") + number + ", 1))"), "0") << number;
    EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Mismatched argument type lua->C++ (Attempted number -> int)?"));
  }
  EXPECT_EQ(Run("probe:Take(1, 2, 2^32, true)"), "");
  EXPECT_EQ(probe_.calls, 0);
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Mismatched argument type lua->C++ (Attempted number -> unsigned)?"));

  // 2^32 + 4 would truncate to Verbose; the level stays.
  log_.SetLevel(Base::TraceLevel_Debug);
  EXPECT_EQ(Run("trace:SetLevel(2^32 + 4); trace:SetLevel(0.5)"), "");
  EXPECT_EQ(log_.GetLevel(), Base::TraceLevel_Debug);
  log_.SetLevel(Base::TraceLevel_Verbose);
  EXPECT_EQ(Eval("probe:EchoHandle(1.5)"), "4294967295");  // the null handle, as for any non-handle
}

TEST_F(Dispatch, VectorsTravelAsScriptObjects) {
  EXPECT_EQ(Run(R"(
    local s = probe:Scale({x = 1, y = 2, z = 3}, 2)
    is_vector = getmetatable(s) == _R.__Vector3_MT
    scaled = s.x + s.y + s.z
    swapped = probe:Swap(Vector2.new(1, 2))
  )"), "");
  EXPECT_EQ(Eval("probe:Length(Vector3.new(3, 4, 12)), is_vector, scaled, swapped.x, swapped.y"), "13 true 12 2 1");

  EXPECT_EQ(Eval("probe:Length(5)"), "0");
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Wrong argument type lua->C++ (Attempted number -> Vec3)?"));

  // Without the scripts' vector classes a vector result is nil, and the call goes on.
  EXPECT_EQ(Eval("(function() _R.__Vector3_MT = nil; return probe:Scale(Vector3.new(1, 1, 1), 1) end)()"), "nil");
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Couldn't find _R.__Vector3_MT.new when sending Vec3 to lua"));
}

TEST_F(Dispatch, QuaternionsAreCopiesOwnedByLua) {
  probe_.rotation = Base::Quaternion(0.5f, 0.5f, 0.5f, 0.5f);
  EXPECT_EQ(Run("q = probe:GetRotation(); q:Reset(); ex = q:GetEulerAngles().x; probe:SetRotation(q)"), "");
  EXPECT_EQ(Number("ex"), 0);
  EXPECT_EQ(probe_.rotation.w, 1.0f);  // only because the script handed its copy back

  probe_.rotation = Base::Quaternion(0.5f, 0.5f, 0.5f, 0.5f);
  EXPECT_EQ(Run("q2 = probe:GetRotation(); q2:Reset()"), "");
  EXPECT_EQ(probe_.rotation.w, 0.5f);  // the engine's own value is untouched

  // A value of a reference type returned by value is a copy too, not a pointer into a dead frame; it
  // stays aligned, answers its methods and is destroyed with its userdata.
  EXPECT_EQ(Run(R"(
    local label = probe:MakeLabel()
    collectgarbage()
    aligned, text = label:Aligned(), label:Text()
    label = nil
    collectgarbage()
  )"), "");
  EXPECT_EQ(Eval("aligned"), "true");
  EXPECT_EQ(Text("text"), DispatchTest::Label().text);
}

TEST_F(Dispatch, HandlesGoBackUnchanged) {
  for (uint32_t value : {0xFFFFFFFFu, 0x00020005u, 0x80000001u}) {
    Base::Handle handle(value);
    env_.SetGlobal("h", Variant(TypeOf<Base::Handle>(), &handle));
    EXPECT_EQ(Run("back = probe:EchoHandle(h)"), "");
    EXPECT_EQ(Number("back"), double(value));  // an unsigned number, never negative
    lua_getglobal(L, "back");
    handle = Base::Handle(0);
    Variant read(TypeOf<Base::Handle>(), &handle);
    Lua::ReadVariant(L, -1, read);
    lua_pop(L, 1);
    EXPECT_EQ(uint32_t(handle), value);
  }
  Take();
  // Not a number: the null handle, not the live-looking 0.
  EXPECT_EQ(Eval("probe:EchoHandle('x'), probe:EchoHandle(-1)"), "4294967295 4294967295");
  EXPECT_TRUE(HasLine(Take(), "[Warning][Lua] Mismatched argument type lua->C++ (Attempted string -> Handle)?"));
}

TEST_F(Dispatch, ArraysGoBothWays) {
  probe_.words = {"x", "y", "z"};
  EXPECT_EQ(Eval("#probe:Words(), probe:Words()[1], probe:Words()[3]"), "3 x z");
  probe_.words = {"1", "2", "3", "4", "5"};
  EXPECT_EQ(Run("probe:SetWords({'p', 'q'})"), "");
  EXPECT_EQ(probe_.words, (std::vector<std::string>{"p", "q"}));

  // Object arrays keep the addresses the scripts sent.
  Probe second;
  second.id = 2;
  probe_.other = &second;
  EXPECT_EQ(Eval("(function() probe:SetFriends({probe:Other(), probe}); local f = probe:Friends(); "
                 "return f[1]:IdOf(f[2]) end)()"),
            "1");
  EXPECT_EQ(probe_.friends, (std::vector<Probe*>{&second, &probe_}));

  EXPECT_EQ(Run("probe:SetWords('nope')"), "");  // the call goes on with an empty list
  EXPECT_TRUE(probe_.words.empty());
  EXPECT_TRUE(
      HasLine(Take(), "[Warning][Lua] Wrong argument type lua->C++ (Attempted string -> vector<string>)?"));
}

TEST_F(Dispatch, ObjectArgumentsMustBeEngineObjectsOfTheRightType) {
  DispatchTest::Stranger stranger;
  env_.SetGlobal("stranger", Variant(TypeOf<DispatchTest::Stranger*>(), &stranger));
  DispatchTest::Special special;
  special.id = 9;
  env_.SetGlobal("special", Variant(TypeOf<DispatchTest::Special*>(), &special));
  EXPECT_EQ(Eval("probe:IdOf(probe), probe:IdOf(special)"), "1 9");  // the Probe part of the Special
  Take();

  EXPECT_EQ(Eval("probe:IdOf(stranger), probe:IdOf(io.stdout), probe:IdOf(3)"), "-1 -1 -1");
  const std::string log = Take();
  EXPECT_TRUE(HasLine(log, "[Warning][Lua] Mismatched object type lua->C++ (Attempted Stranger* -> Probe*)?"));
  EXPECT_TRUE(HasLine(log, "[Warning][Lua] Userdata that is not an engine object found when getting Probe* from lua"));
  EXPECT_TRUE(HasLine(log, "[Warning][Lua] Invalid type (number) found when getting variable from lua: Try "
                           "using :Func() instead of .Func()"));

  // The object a method runs on is checked the same way.
  EXPECT_EQ(Run("probe.Poke(stranger)"), "");
  EXPECT_EQ(probe_.calls, 0);
  EXPECT_TRUE(HasLine(Take(), "[ Error ][Lua] Invalid context when used to call function Poke from lua"));
}

TEST_F(Dispatch, ObjectsAnswerTheirDeclaredFields) {
  Probe second;
  second.id = 5;
  probe_.other = &second;
  EXPECT_EQ(Eval("type(probe.Value), probe:Other().Id, probe:Other().Value ~= probe.Value, "
                 "probe:Other().Value == probe:Other().Value, probe.Nothing, type(probe.Add)"),
            "number 5 true true nil function");
  lua_getglobal(L, "probe");
  lua_getfield(L, -1, "Value");
  EXPECT_EQ(Lua::ToPointerValue(L, -1), &probe_);
  lua_pop(L, 2);
}

TEST_F(Dispatch, NullAndUnlistedResultsArriveAsNil) {
  DispatchTest::Keeper keeper;
  env_.SetGlobal("keeper", Variant(TypeOf<DispatchTest::Keeper*>(), &keeper));
  EXPECT_EQ(Eval("probe:Other(), keeper:Hidden(), select('#', keeper:Hidden())"), "nil nil 1");
  EXPECT_NE(Take().find("[Warning][Lua] Couldn't find valid meta table when sending"), std::string::npos);
}

TEST_F(Dispatch, ExceptionsStopAtTheBoundaryAndAClosureWithoutAFunctionIsRefused) {
  EXPECT_EQ(Eval("select('#', probe:Fail())"), "0");
  EXPECT_TRUE(HasLine(Take(), "[ Error ][Lua] Exception thrown calling function Fail from lua: boom"));

  lua_pushcclosure(L, &Lua::Environment::Dispatch, 0);
  lua_setglobal(L, "broken");
  EXPECT_EQ(Eval("select('#', broken(1, 2))"), "0");
  EXPECT_TRUE(HasLine(Take(), "[ Error ][Lua] Faulty Lua -> C++ Function call!"));
}

}  // namespace
