// Space files: a space written and read back (objects renumbered, parents by index, components, space
// component), files without a count, and damaged files answered with messages instead of crashes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Core/SpaceComponent.h"
#include "Core/Spinner.h"
#include "Core/Transform.h"
#include "ObjectModelSupport.h"
#include "tests/Support/TextFiles.h"

namespace {

using namespace ObjectModelTest;
using Base::Vec3;
using Core::GameObject;
using Core::GameSpace;
using Core::SpaceLoadContext;
using Core::TestSpaceComp;
using Core::Transform;

using OrvTest::ReadFile;
using OrvTest::TempPath;
using OrvTest::WriteFile;

std::string Line(Base::File& file) {
  std::string line = file.ReadUntil('\n');
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

TestSpaceComp* GiveSpaceComponent(GameSpace& space) {
  Core::SpaceComponent* component = Core::SpaceComponentRegistry::GetCreator(0)->Create(&space);
  space.AddSpaceComponent(component);
  return static_cast<TestSpaceComp*>(space.GetSpaceComponent());
}

// Reads a space file as the factory's space loader does: name, count (pre-created objects) or none,
// the "SpaceComponents" block, then the space's own reader.
std::unique_ptr<GameSpace> Load(const std::string& path) {
  Base::File file;
  file.Open(path, Base::File::Mode_Read);
  auto space = std::make_unique<GameSpace>(Line(file));
  GiveSpaceComponent(*space);
  SpaceLoadContext context;
  long start = file.Tell();
  const std::string count = Line(file);
  if (count == "GameObject") {
    file.SeekTo(start);
    context.noCount = true;
  } else {
    for (int i = std::stoi(count); i > 0; --i) context.objects.push_back(space->CreateObject()->GetSelf());
  }
  start = file.Tell();
  if (Line(file) == "SpaceComponents") {
    Base::Serializer serializer;
    while (space->ReadSpaceComponent(file, serializer)) {
    }
  } else {
    file.SeekTo(start);
  }
  space->ReadText(file, context);
  return space;
}

class SpaceTextTest : public ObjectModelTestBase {};

TEST_F(SpaceTextTest, ASpaceReadsBackAsItWasWritten) {
  auto source = NewSpace("Level One");
  GiveSpaceComponent(*source)->m_timeFailed = 5;
  source->DestroyObject(source->CreateObject());
  source->DestroyObject(source->CreateObject());  // numbers 0 and 1 are gone: the file renumbers
  GameObject* root = source->CreateObject();
  root->Name("Root");
  auto* transform = static_cast<Transform*>(source->CreateComponent(Core::ComponentType_Transform));
  transform->SetLocalTranslation({1.25f, -2.5f, 3.0f});
  transform->SetLocalRotation({0.5f, 0.5f, 0.5f, 0.5f});
  transform->SetLocalScale({2.0f, 2.0f, 2.0f});
  root->AttachComponent(transform);
  auto* spinner = static_cast<Core::Spinner*>(source->CreateComponent(Core::ComponentType_Spinner));
  spinner->SetRotationAxis({0.0f, 1.0f, 0.0f});
  spinner->SetRotationSpeed(45.0f);
  root->AttachComponent(spinner);
  GameObject* kid = source->CreateObject();
  kid->Name("Kid with a long name");
  kid->AttachComponent(source->CreateComponent(Core::ComponentType_Transform));
  kid->GetComponent<Transform>()->SetLocalTranslation({0.0f, 0.0f, 1.0f});
  kid->SetParent(root);
  GameObject* crate = source->CreateObject();
  crate->Name("Crate");
  crate->m_archetype = "ach_crate";

  const std::string path = TempPath("orv_space_roundtrip.space");
  {
    Base::File file;
    file.Open(path, Base::File::Mode_Write);
    SpaceLoadContext context;
    source->WriteText(file, context);
  }
  const std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind("Level One\r\n3\r\nSpaceComponents\r\n{\r\n  TestSpaceComp\r\n", 0), 0u);
  EXPECT_NE(text.find("\r\n0:GameObject\r\n{\r\n  m_name string \"Root\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n  m_parent Handle -1\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n1:GameObject\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n  m_parent Handle 0\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n2:GameObject\r\n"), std::string::npos);
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    ASSERT_EQ(text[at - 1], '\r') << "line ending at " << at;

  ScriptCalls().clear();
  auto loaded = Load(path);
  EXPECT_EQ(loaded->GetName(), "Level One");
  EXPECT_EQ(static_cast<TestSpaceComp*>(loaded->GetSpaceComponent())->m_timeFailed, 5);
  GameObject* loadedRoot = loaded->FindGameObject("Root");
  GameObject* loadedKid = loaded->FindGameObject("Kid with a long name");
  ASSERT_NE(loadedRoot, nullptr);
  ASSERT_NE(loadedKid, nullptr);
  EXPECT_TRUE(loadedRoot->Equals(*root));
  EXPECT_TRUE(loadedKid->Equals(*kid));
  EXPECT_EQ(loadedKid->Parent(), loadedRoot);
  EXPECT_EQ(loadedRoot->ChildCount(), 1);
  EXPECT_EQ(loaded->FindGameObject("Crate")->m_archetype, "ach_crate");
  EXPECT_TRUE(loadedRoot->IsInitialized());
  EXPECT_EQ(ScriptCalls().size(), 3u);
  EXPECT_EQ(loaded->GetHooks().Find("LogicUpdate")->ListenerCount(), 1u);  // the spinner listens

  // Leaving out the objects made from archetypes still numbers them all.
  {
    Base::File file;
    file.Open(path, Base::File::Mode_Write);
    SpaceLoadContext context;
    context.writeAllObjects = false;
    loaded->WriteText(file, context);
  }
  const std::string partial = ReadFile(path);
  EXPECT_EQ(partial.rfind("Level One\r\n3\r\n", 0), 0u);
  EXPECT_EQ(partial.find("ach_crate"), std::string::npos);
}

TEST_F(SpaceTextTest, FilesWithoutACountMakeOneObjectPerBlock) {
  const std::string path = TempPath("orv_space_nocount.space");
  WriteFile(path,
            "Free\n"
            "GameObject\n{\n  m_name string \"First\"\n}\n"
            "GameObject\n{\n  m_name string \"Second\"\n  m_parent Handle 0\n  Spinner\n  {\n"
            "    m_degreesPerSecond float 12.5\n  }\n}\n");
  auto space = Load(path);
  ASSERT_EQ(space->GetObjectCount(), 2u);
  GameObject* second = space->FindGameObject("Second");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Parent(), space->FindGameObject("First"));
  ASSERT_NE(second->GetComponent<Core::Spinner>(), nullptr);
  EXPECT_EQ(second->GetComponent<Core::Spinner>()->GetRotationSpeed(), 12.5f);
}

TEST_F(SpaceTextTest, DamagedFilesAreReportedAndReadAsFarAsTheyMakeSense) {
  const std::string path = TempPath("orv_space_damaged.space");
  WriteFile(path,
            "Broken\r\n3\r\nSpaceComponents\r\n{\r\n}\r\n"
            "0:GameObject\r\n{\r\n  m_name string \"A\"\r\n  m_parent Handle 1\r\n"
            "  Transform\r\n  {\r\n  }\r\n"
            "  Transform\r\n  {\r\n    m_translation Vec3 {1.000000, 0.000000, 0.000000}\r\n  }\r\n}\r\n"
            "1:GameObject\r\n{\r\n  m_name string \"B\"\r\n  m_parent Handle 0\r\n}\r\n"
            "x:GameObject\r\n{\r\n}\r\n"
            "7:GameObject\r\n{\r\n}\r\n"
            "2:Nonsense\r\n"
            "2:GameObject\r\n{\r\n  m_name string \"C\"\r\n}\r\n");
  log_.Take();
  auto space = Load(path);
  const std::string log = log_.Take();
  EXPECT_NE(log.find("[Warning][Core] Object g0_0:0 already has a Transform component: the old one is destroyed\n"),
            std::string::npos);
  EXPECT_NE(log.find("[ Error ][Core] Invalid object header \"x:GameObject\" in space file: " + path + "\n"),
            std::string::npos);
  EXPECT_NE(log.find("[ Error ][Core] Object header \"7:GameObject\" names no object of the space in file: " + path),
            std::string::npos);
  EXPECT_NE(log.find("[ Error ][Core] Object g0_0:0 of space \"Broken\" is its own ancestor: its parent link is "
                     "dropped\n"),
            std::string::npos);

  GameObject* a = space->FindGameObject("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetComponent<Transform>()->LocalTranslation(), Vec3(1.0f, 0.0f, 0.0f));
  EXPECT_EQ(space->GetComponentPool(Core::ComponentType_Transform, sizeof(Transform))->GetObjectsInUse(), 1u);
  EXPECT_EQ(a->Parent(), nullptr);
  EXPECT_EQ(space->FindGameObject("B")->Parent(), a);
  EXPECT_NE(space->FindGameObject("C"), nullptr);

  // A block that is not an object block is refused by the object reader.
  WriteFile(path, "Transform\r\n{\r\n}\r\n");
  Base::File file;
  file.Open(path, Base::File::Mode_Read);
  Base::Serializer serializer;
  log_.Take();
  EXPECT_FALSE(a->ReadText(file, serializer));
  EXPECT_EQ(log_.Take(), "[ Error ][Core] Attempted to deserialize invalid object file: " + path + "\n");
  EXPECT_EQ(a->m_name, "A");
}

TEST_F(SpaceTextTest, StrayLinesAndShortVectorsInAnObjectCostNothingAfterThem) {
  const std::string path = TempPath("orv_space_stray.space");
  WriteFile(path,
            "Stray\r\n1\r\nSpaceComponents\r\n{\r\n}\r\n"
            "0:GameObject\r\n{\r\n  m_name string \"A\"\r\n  m_health float 3.5\r\n"
            "  Transform\r\n  {\r\n    m_translation Vec3 {1.000000, 2.000000}\r\n"
            "    m_scale Vec3 {2.000000, 2.000000, 2.000000}\r\n  }\r\n"
            "  Spinner\r\n  {\r\n    m_degreesPerSecond float 4.0\r\n  }\r\n}\r\n");
  log_.Take();
  auto space = Load(path);
  const std::string log = log_.Take();
  EXPECT_NE(log.find("[Warning][Core] Skipped unexpected text at \"m_health\" in file: " + path + "\n"),
            std::string::npos);
  EXPECT_EQ(log.find("\"float\""), std::string::npos);  // one report for the whole stray line
  EXPECT_NE(log.find("[ Error ][Base] A \"Vec3\" value holds 2 of its 3 numbers in file: " + path + "\n"),
            std::string::npos);
  GameObject* a = space->FindGameObject("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetComponent<Transform>()->LocalTranslation(), Vec3(1.0f, 2.0f, 0.0f));
  EXPECT_EQ(a->GetComponent<Transform>()->LocalScale(), Vec3(2.0f, 2.0f, 2.0f));
  ASSERT_NE(a->GetComponent<Core::Spinner>(), nullptr);
  EXPECT_EQ(a->GetComponent<Core::Spinner>()->GetRotationSpeed(), 4.0f);
}

TEST_F(SpaceTextTest, ASecondSpaceComponentIsDestroyedAndTheFirstKept) {
  auto space = NewSpace("Components");
  TestSpaceComp* first = GiveSpaceComponent(*space);
  EXPECT_EQ(first->m_name, "Test Space Component");
  EXPECT_EQ(first->m_timeFailed, 3);
  EXPECT_FALSE(first->m_working);
  EXPECT_EQ(first->m_space, space.get());
  EXPECT_EQ(first->m_type, 0u);
  log_.Take();
  GiveSpaceComponent(*space);
  EXPECT_EQ(log_.Take(), "[Warning][Core] Existing Space Component: can't add a new component till old is removed\n");
  EXPECT_EQ(space->GetSpaceComponent(), first);
}

}  // namespace
