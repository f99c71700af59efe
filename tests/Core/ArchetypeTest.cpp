// Archetypes: the files the engine writes, object trees made from a file and from the cache, the archetype block
// written and read back, deep copies, and damaged files answered with messages instead of objects.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Base/FunctionRegistry.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/Archetype.h"
#include "Core/ContentPath.h"
#include "Core/Factory.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "ObjectModelSupport.h"
#include "tests/Support/TextFiles.h"

namespace {

using namespace ObjectModelTest;
using Base::Vec3;
using Core::Factory;
using Core::GameObject;
using Core::GameSpace;
using Core::Spinner;
using Core::Transform;

using OrvTest::ReadFile;
using OrvTest::TempPath;
using OrvTest::WriteFile;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Windmill: a rotor (spinning, with a blade) and a tower, so the root counts 3 descendants, the rotor 1.
GameObject* BuildWindmill(GameSpace& space) {
  GameObject* root = AddObject(space, "Windmill", {4.0f, 0.0f, 4.0f});
  GameObject* rotor = AddObject(space, "Rotor", {0.0f, 6.0f, 0.5f}, root);
  auto* spinner = static_cast<Spinner*>(space.CreateComponent(Core::ComponentType_Spinner));
  spinner->SetRotationAxis({0.0f, 0.0f, 1.0f});
  spinner->SetRotationSpeed(90.0f);
  rotor->AttachComponent(spinner);
  AddObject(space, "Blade", {0.0f, 2.0f, 0.0f}, rotor)->GetComponent<Transform>()->SetLocalScale({0.2f, 4.0f, 0.05f});
  AddObject(space, "Tower", {0.0f, 3.0f, 0.0f}, root)->GetComponent<Transform>()->SetLocalScale({1.0f, 6.0f, 1.0f});
  return root;
}

void WriteArchetype(const Archetype& archetype, const std::string& path) {
  Base::File file;
  file.Open(path, Base::File::Mode_Write);
  Base::Serializer serializer;
  serializer.WriteValue(
      file, Base::Reflection::Variant(Base::Reflection::TypeOf<Archetype>(), const_cast<Archetype*>(&archetype)));
}

// Names, component values and child order of two trees, object by object.
void ExpectSameTree(GameObject& a, GameObject& b) {
  EXPECT_NE(&a, &b);
  EXPECT_TRUE(a.Equals(b)) << a.m_name << " / " << b.m_name;
  ASSERT_EQ(a.ChildCount(), b.ChildCount()) << a.m_name;
  for (int i = 0; i < a.ChildCount(); ++i) ExpectSameTree(*a.ChildbyIndex(i), *b.ChildbyIndex(i));
}

class ArchetypeTest : public ObjectModelTestBase {
 protected:
  // The windmill written where the factory finds it by path (the game's own carries models too).
  void SetUp() override {
    ObjectModelTestBase::SetUp();
    auto workshop = NewSpace("Workshop");
    Archetype windmill;
    windmill.SetFromObject(*BuildWindmill(*workshop));
    WriteArchetype(windmill, windmill_);
  }
  void TearDown() override {
    factory_.ClearArchetypes();
    std::remove(windmill_.c_str());
    ObjectModelTestBase::TearDown();
  }
  Factory& factory_ = Factory::GetInstance();
  std::unique_ptr<GameSpace> space_ = NewSpace("Field");
  // One file per test process: ctest runs the cases side by side.
  const std::string windmill_ = TempPath("orv_core_Windmill_" + std::to_string(getpid()) + ".arche");
};

// The game's crate archetype is exactly what the engine writes (ORV_WRITE_SAMPLE_CONTENT=1 rewrites
// it); the windmill, the core's own tree here, is written with its children nested in order.
TEST_F(ArchetypeTest, ArchetypesAreWrittenAsTheEngineWritesThem) {
  auto workshop = NewSpace("Workshop");
  GameObject* crate = AddObject(*workshop, "Crate", {1.0f, 1.0f, 1.0f});
  crate->GetComponent<Transform>()->SetLocalScale({0.5f, 0.5f, 0.5f});
  Archetype crateArchetype;
  crateArchetype.SetFromObject(*crate);
  const bool rewrite = std::getenv("ORV_WRITE_SAMPLE_CONTENT") != nullptr;
  const std::string content = Factory::MakeContentPath("Crate", Factory::FileKind_Archetype);
  const std::string path = rewrite ? content : TempPath("orv_sample_Crate.arche");
  WriteArchetype(crateArchetype, path);
  EXPECT_EQ(ReadFile(path), ReadFile(content)) << content;
  EXPECT_TRUE(Contains(ReadFile(content), "  Children\r\n  {\r\n  }\r\n}\r\n"));

  const std::string text = ReadFile(windmill_);
  EXPECT_EQ(
      text.rfind("Archetype\r\n3\r\n{\r\n  m_name string \"Windmill\"\r\n  m_archetype string \"\"\r\n  Transform\r\n",
                 0),
      0u);
  EXPECT_TRUE(
      Contains(text, "\r\n  Children\r\n  {\r\n    ArchetypeData\r\n    1\r\n    {\r\n      m_name string \"Rotor\""));
}

TEST_F(ArchetypeTest, InstancesAreIndependentEqualTreesInitialisedChildrenFirst) {
  ScriptCalls().clear();
  GameObject* first = factory_.LoadObjectFromArchetype(space_.get(), windmill_.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(factory_.CachedArchetypeCount(), 1u);
  GameObject* second = factory_.LoadObjectFromArchetype(space_.get(), windmill_.c_str());
  ASSERT_NE(second, nullptr);
  ExpectSameTree(*first, *second);

  for (GameObject* root : {first, second}) {
    EXPECT_EQ(root->m_archetype, windmill_);
    EXPECT_EQ(root->GetComponent<Transform>()->Translation(), Vec3(0.0f, 0.0f, 0.0f));
    GameObject* rotor = root->ChildbyName("Rotor");
    ASSERT_NE(rotor, nullptr);
    EXPECT_EQ(rotor->GetComponent<Transform>()->LocalTranslation(), Vec3(0.0f, 6.0f, 0.5f));
    EXPECT_EQ(rotor->GetComponent<Spinner>()->GetRotationSpeed(), 90.0f);
    EXPECT_EQ(rotor->ChildbyName("Blade")->Parent(), rotor);
    EXPECT_EQ(root->ChildbyIndex(1)->m_name, "Tower");
  }
  // Every object once, children before their parent, each tree on its own.
  std::vector<std::string> expected;
  for (GameObject* root : {first, second})
    for (GameObject* object : {root->ChildbyName("Rotor")->ChildbyName("Blade"), root->ChildbyName("Rotor"),
                               root->ChildbyName("Tower"), root})
      expected.push_back("game:InitObject(\"Field\", " + std::to_string(object->GetSelf()) + ")");
  EXPECT_EQ(ScriptCalls(), expected);

  first->ChildbyName("Rotor")->GetComponent<Spinner>()->SetRotationSpeed(1.0f);
  EXPECT_EQ(second->ChildbyName("Rotor")->GetComponent<Spinner>()->GetRotationSpeed(), 90.0f);
  space_->Destroy(first);
  space_->DestroyPendingObjects(false);
  EXPECT_EQ(space_->GetObjectCount(), 4u);
  EXPECT_EQ(second->ChildbyName("Rotor")->ChildCount(), 1);
}

TEST_F(ArchetypeTest, TheCacheReadsEachFileOnceAndSurvivesItsFile) {
  const std::string path = TempPath("orv_cached_windmill.arche");
  auto workshop = NewSpace("Workshop");
  Archetype source;
  source.SetFromObject(*BuildWindmill(*workshop));
  EXPECT_EQ(source.DescendantCount(), 3u);
  WriteArchetype(source, path);

  EXPECT_EQ(&factory_.GetArchetype(path.c_str(), false), &Factory::EmptyArchetype());
  EXPECT_TRUE(factory_.LoadArchetype(path.c_str()));
  const Archetype& cached = factory_.GetArchetype(path.c_str(), false);
  ASSERT_NE(&cached, &Factory::EmptyArchetype());
  EXPECT_EQ(cached.m_archetype, path);
  EXPECT_EQ(cached.DescendantCount(), 3u);
  EXPECT_EQ(cached.m_children[0]->DescendantCount(), 1u);

  std::remove(path.c_str());
  GameObject* made = factory_.LoadObjectFromArchetype(space_.get(), path.c_str());
  ASSERT_NE(made, nullptr);
  GameObject* original = workshop->FindGameObject("Windmill");
  original->GetComponent<Transform>()->SetLocalTranslation({0.0f, 0.0f, 0.0f});
  original->m_archetype = path;
  ExpectSameTree(*original, *made);

  // Loaded on demand; a name without a file stays uncached.
  EXPECT_NE(&factory_.GetArchetype("Crate", true), &Factory::EmptyArchetype());
  log_.Take();
  EXPECT_EQ(&factory_.GetArchetype("NoSuchThing", true), &Factory::EmptyArchetype());
  EXPECT_TRUE(Contains(log_.Take(), "[Warning][Core] Archetype \"NoSuchThing\" not found! (Could not find file.)\n"));
  EXPECT_EQ(factory_.CachedArchetypeCount(), 2u);
}

TEST_F(ArchetypeTest, CopiesOwnTheirOwnComponentsAndChildren) {
  Archetype original;
  original.SetFromObject(*BuildWindmill(*space_));
  Archetype copy(original);
  Archetype assigned;
  assigned = original;
  for (const Archetype* other : {&copy, &assigned}) {
    ASSERT_NE(other->m_components[Core::ComponentType_Transform], nullptr);
    EXPECT_NE(other->m_components[Core::ComponentType_Transform].get(),
              original.m_components[Core::ComponentType_Transform].get());
    EXPECT_TRUE(other->m_components[0]->Equals(*original.m_components[0]));
    ASSERT_EQ(other->m_children.size(), 2u);
    EXPECT_NE(other->m_children[0].get(), original.m_children[0].get());
    EXPECT_TRUE(other->m_children[0]->m_components[Core::ComponentType_Spinner]->Equals(
        *original.m_children[0]->m_components[Core::ComponentType_Spinner]));
  }
  original = Archetype();  // the copies keep everything
  EXPECT_TRUE(original.IsEmpty());
  EXPECT_EQ(copy.DescendantCount(), 3u);
  GameObject* made = copy.Instantiate(*space_);
  EXPECT_EQ(made->ChildbyName("Rotor")->GetComponent<Spinner>()->GetRotationSpeed(), 90.0f);
  EXPECT_FALSE(made->IsInitialized());  // the factory initialises whole trees

  // Script components are asked for their state, stored and made again as script components.
  ScriptStubScope scripts;
  auto scripted = NewSpace("Scripted");
  GameObject* holder = scripted->CreateObject();
  holder->AttachComponent(scripted->CreateComponent(Core::ComponentType_LuaComponent));
  Archetype withScript;
  withScript.SetFromObject(*holder);
  EXPECT_EQ(ScriptStub::Events(), std::vector<std::string>{"script component stand-in:refresh"});
  ASSERT_EQ(withScript.m_luaComponents.size(), 1u);
  EXPECT_EQ(Archetype(withScript).m_luaComponents.size(), 1u);
  EXPECT_EQ(withScript.Instantiate(*scripted)->LuaComponentCount(), 1u);
}

TEST_F(ArchetypeTest, OtherFileFormsAndDamagedFiles) {
  // A plain object block is an archetype too, and a root without a Transform gets one.
  const std::string plain = TempPath("orv_plain.arche");
  WriteFile(plain, "GameObject\r\n{\r\n  m_name string \"Plain\"\r\n  Spinner\r\n  {\r\n  }\r\n}\r\n");
  GameObject* object = factory_.LoadObjectFromArchetype(space_.get(), plain.c_str());
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->m_name, "Plain");
  EXPECT_NE(object->GetComponent<Spinner>(), nullptr);
  EXPECT_NE(object->GetComponent<Transform>(), nullptr);

  // Blocks of component types this build does not have, and stray member lines, cost nothing else.
  const std::string mixed = TempPath("orv_mixed.arche");
  WriteFile(mixed,
            "Archetype\r\n1\r\n{\r\n  m_name string \"Mixed\"\r\n  m_health float 3\r\n"
            "  Model\r\n  {\r\n    m_mesh string \"a.cong\"\r\n  }\r\n  Spinner\r\n  {\r\n  }\r\n"
            "  Children\r\n  {\r\n    ArchetypeData\r\n    0\r\n    {\r\n      m_name string \"Kid\"\r\n"
            "      Camera\r\n      {\r\n      }\r\n      Children\r\n      {\r\n      }\r\n    }\r\n  }\r\n}\r\n");
  log_.Take();
  object = factory_.LoadObjectFromArchetype(space_.get(), mixed.c_str());
  const std::string log = log_.Take();
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(
      Contains(log, "[Warning][Core] Skipped unexpected text at \"m_health\" in archetype file: " + mixed + "\n"));
  EXPECT_TRUE(
      Contains(log, "[Warning][Core] Skipped a block of unknown component type \"Model\" in file: " + mixed + "\n"));
  EXPECT_TRUE(
      Contains(log, "[Warning][Core] Skipped a block of unknown component type \"Camera\" in file: " + mixed + "\n"));
  EXPECT_NE(object->GetComponent<Spinner>(), nullptr);
  ASSERT_EQ(object->ChildCount(), 1);
  EXPECT_EQ(object->ChildbyIndex(0)->m_name, "Kid");

  // A root that is no archetype gives no object, caches nothing and leaves nothing behind.
  const std::string wrong = TempPath("orv_wrong.arche");
  WriteFile(wrong, "Transform\r\n{\r\n}\r\n");
  const uint32_t objects = space_->GetObjectCount();
  const size_t cached = factory_.CachedArchetypeCount();
  log_.Take();
  EXPECT_EQ(factory_.LoadObjectFromArchetype(space_.get(), wrong.c_str()), nullptr);
  EXPECT_TRUE(
      Contains(log_.Take(), "[ Error ][Core] Attempted to deserialize invalid archetype file: " + wrong + "\n"));
  EXPECT_FALSE(factory_.LoadArchetype(wrong.c_str()));
  EXPECT_EQ(space_->GetObjectCount(), objects);
  EXPECT_EQ(factory_.CachedArchetypeCount(), cached);

  log_.Take();
  EXPECT_EQ(factory_.LoadObjectFromArchetype(space_.get(), "Nothing"), nullptr);
  EXPECT_EQ(log_.Take(), "[Warning][Core] Archetype \"Nothing\" not found! (Could not find file.)\n");

  Base::File file;
  file.Open(wrong, Base::File::Mode_Read);
  GameObject* child = space_->CreateObject();
  log_.Take();
  EXPECT_FALSE(Archetype::ArchetypeData::Deserialize(
      file, Base::Reflection::Variant(Base::Reflection::TypeOf<Archetype>(), child)));
  EXPECT_EQ(log_.Take(), "[ Error ][Core] Attempted to deserialize invalid archetype data file: " + wrong + "\n");
}

// Scripts call it (the end-to-end engine tests do); here, how the library lists it.
TEST_F(ArchetypeTest, TheFactoryLibraryListsTheArchetypeLoader) {
  const std::vector<Base::FunctionRegistry::Entry>* entries =
      Base::FunctionRegistry::GetInstance().GetCategoryEntries("Factory");
  ASSERT_NE(entries, nullptr);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ(entries->front().name, "LoadObjectFromArchetype");
  EXPECT_EQ(entries->front().description, "\"Loads archtype into GameObject\"");
}

}  // namespace
