// The factory's level and space loads: the sample content, space files written and read back in both
// forms, level files' separators, and damaged or unknown input answered with messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Base/Serialization/File.h"
#include "Base/function/Thunk.h"
#include "Core/ContentPath.h"
#include "Core/Factory.h"
#include "Core/SpaceComponent.h"
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
using Core::TestSpaceComp;
using Core::Transform;

using OrvTest::ReadFile;
using OrvTest::TempPath;
using OrvTest::WriteFile;

// Owns spaces as the engine does: by name, each given its space component when made.
class TestHost : public Core::SpaceHost {
 public:
  GameSpace* GetGameSpace(const char* name) override {
    for (const auto& space : spaces)
      if (space->GetName() == name) return space.get();
    return nullptr;
  }
  GameSpace* NewGameSpace(const char* name) override {
    spaces.push_back(NewSpace(name));
    GameSpace* space = spaces.back().get();
    space->AddSpaceComponent(Core::SpaceComponentRegistry::GetCreator(0)->Create(space));
    return space;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& space : spaces) names.push_back(space->GetName());
    return names;
  }
  std::vector<std::unique_ptr<GameSpace>> spaces;
};

// Records the engine hook "GameSpaceLoaded".
struct LoadRecorder {
  void Loaded(GameSpace* space) { loaded.push_back(space ? space->GetName() : "null"); }
  std::vector<std::string> loaded;
};

void AddSpinner(GameObject& object, Vec3 axis, float degreesPerSecond) {
  auto* spinner = static_cast<Spinner*>(object.GetSpace()->CreateComponent(Core::ComponentType_Spinner));
  spinner->SetRotationAxis(axis);
  spinner->SetRotationSpeed(degreesPerSecond);
  object.AttachComponent(spinner);
}

void WriteSpace(GameSpace& space, const std::string& path, bool withoutCount = false) {
  Base::File file;
  file.Open(path, Base::File::Mode_Write);
  Core::SpaceLoadContext context;
  context.headersWithoutIndex = withoutCount;
  space.WriteText(file, context);
}

// Spaces of the core's own components: "SplashScreen" is the game's (content/data/spaces, checked to
// be exactly what the engine writes; ORV_WRITE_SAMPLE_CONTENT=1 rewrites it); "SandboxWorld" and
// "SandboxSky" are the Sandbox level's spaces as the core alone can build them, written to scratch
// files (the game's own carry graphics components).
void BuildSampleSpaces(TestHost& host) {
  GameSpace& splash = *host.NewGameSpace("SplashScreen");
  static_cast<TestSpaceComp*>(splash.GetSpaceComponent())->m_name = "Splash screen";
  AddObject(splash, "SplashCamera", {0.0f, 0.0f, -10.0f});
  GameObject* logo = AddObject(splash, "Logo", {0.0f, 0.5f, 0.0f});
  AddSpinner(*logo, {0.0f, 1.0f, 0.0f}, 30.0f);
  GameObject* ring = AddObject(splash, "LogoRing", {0.0f, 0.0f, 0.5f}, logo);
  ring->GetComponent<Transform>()->SetLocalScale({1.5f, 1.5f, 1.5f});
  AddSpinner(*ring, {0.0f, 0.0f, 1.0f}, -45.0f);

  GameSpace& world = *host.NewGameSpace("SandboxWorld");
  static_cast<TestSpaceComp*>(world.GetSpaceComponent())->m_working = true;
  AddObject(world, "Ground", {0.0f, -1.0f, 0.0f})->GetComponent<Transform>()->SetLocalScale({20.0f, 1.0f, 20.0f});
  GameObject* turntable = AddObject(world, "Turntable", {0.0f, 0.0f, 5.0f});
  AddSpinner(*turntable, {0.0f, 1.0f, 0.0f}, 15.0f);
  AddObject(world, "PillarLeft", {-2.0f, 1.0f, 0.0f}, turntable);
  GameObject* right = AddObject(world, "PillarRight", {2.0f, 1.0f, 0.0f}, turntable);
  GameObject* lamp = AddObject(world, "Lamp", {0.0f, 1.5f, 0.0f}, right);
  AddSpinner(*lamp, {1.0f, 0.0f, 0.0f}, 90.0f);

  GameSpace& sky = *host.NewGameSpace("SandboxSky");
  GameObject* sun = AddObject(sky, "Sun", {0.0f, 100.0f, 0.0f});
  AddSpinner(*sun, {0.0f, 0.0f, 1.0f}, 1.0f);
  AddObject(sky, "Moon", {0.0f, -100.0f, 0.0f}, sun);
}

class FactoryTest : public ObjectModelTestBase {
 protected:
  void SetUp() override {
    ObjectModelTestBase::SetUp();
    Core::SetEngineHooks(&engineHooks_);
    static const Base::Function loaded(Base::MakeSignature<&LoadRecorder::Loaded>(),
                                       &Base::Thunk<&LoadRecorder::Loaded>, "LoadRecorder::Loaded");
    engineHooks_.AddSystemListener("GameSpaceLoaded", &recorder_, loaded);
  }

  Factory& factory_ = Factory::GetInstance();
  Core::Hooks engineHooks_;
  LoadRecorder recorder_;
  TestHost host_;
};

TEST_F(FactoryTest, SampleContentIsWhatTheEngineWrites) {
  TestHost built;
  BuildSampleSpaces(built);
  const bool rewrite = std::getenv("ORV_WRITE_SAMPLE_CONTENT") != nullptr;
  GameSpace& splash = *built.GetGameSpace("SplashScreen");
  const std::string content = std::string(Core::kSpaceFolder) + "SplashScreen" + std::string(Core::kSpaceExtension);
  const std::string path = rewrite ? content : TempPath("orv_sample_SplashScreen");
  WriteSpace(splash, path);
  EXPECT_EQ(ReadFile(path), ReadFile(content)) << content;
  // Levels have no writer in the engine: their text is given here.
  const std::pair<const char*, const char*> levels[] = {{"Splash", "Splash\r\nSplashStage SplashScreen\r\n"},
                                                        {"Sandbox", "Sandbox\r\nSandboxWorld SandboxSky\r\n"}};
  for (const auto& [name, text] : levels) {
    const std::string content = Factory::MakeContentPath(name, Factory::FileKind_Level);
    if (rewrite) WriteFile(content, text);
    EXPECT_EQ(ReadFile(content), text);
  }
}

TEST_F(FactoryTest, ALevelLoadsItsSpacesInOrder) {
  TestHost built;
  BuildSampleSpaces(built);
  const std::string world = TempPath("orv_level_SandboxWorld.space"), sky = TempPath("orv_level_SandboxSky.space");
  WriteSpace(*built.GetGameSpace("SandboxWorld"), world);
  WriteSpace(*built.GetGameSpace("SandboxSky"), sky, true);
  const std::string level = TempPath("orv_level_Sandbox.level");
  WriteFile(level, "Sandbox\r\n" + world + " " + sky + "\r\n");
  factory_.LoadLevel(level.c_str(), host_);
  EXPECT_EQ(host_.Names(), (std::vector<std::string>{"SandboxWorld", "SandboxSky"}));
  EXPECT_EQ(recorder_.loaded, host_.Names());

  for (const char* name : {"SandboxWorld", "SandboxSky"}) {
    GameSpace* source = built.GetGameSpace(name);
    GameSpace* loaded = host_.GetGameSpace(name);
    ASSERT_EQ(loaded->GetObjectCount(), source->GetObjectCount());
    for (GameObject* object : source->GetObjects()) {
      GameObject* copy = loaded->FindGameObject(object->GetName());
      ASSERT_NE(copy, nullptr) << object->GetName();
      EXPECT_TRUE(copy->Equals(*object)) << object->GetName();
      EXPECT_TRUE(copy->IsInitialized());
      const GameObject* parent = object->Parent();
      EXPECT_EQ(copy->Parent() ? copy->Parent()->m_name : "", parent ? parent->m_name : "");
    }
  }
  EXPECT_TRUE(static_cast<TestSpaceComp*>(host_.GetGameSpace("SandboxWorld")->GetSpaceComponent())->m_working);
  EXPECT_EQ(host_.GetGameSpace("SandboxWorld")->FindGameObject("Turntable")->ChildCount(), 2);

  // A name that is itself a path to a file is taken as it is, '\' or not; the open space is refused.
  log_.Take();
  EXPECT_EQ(factory_.LoadSpace("content\\data\\spaces\\SandboxSky.space", host_), nullptr);
  EXPECT_NE(log_.Take().find("[Warning][Core] Attempted to load a Space that is already open \"SandboxSky\"\n"),
            std::string::npos);
  EXPECT_EQ(host_.GetGameSpace("SandboxSky")->GetObjectCount(), 2u);
  EXPECT_EQ(Factory::MakeContentPath("content\\data\\levels\\Splash.level", Factory::FileKind_Level),
            "content/data/levels/Splash.level");
  EXPECT_EQ(Factory::MakeContentPath("Splash", Factory::FileKind_Level), "content/data/levels/Splash.level");
  EXPECT_EQ(Factory::MakeContentPath("sub\\Crate", Factory::FileKind_Archetype),
            "content/data/archetypes/sub/Crate.arche");

  factory_.LoadLevel("Splash", host_);
  GameSpace* splash = host_.GetGameSpace("SplashScreen");
  ASSERT_NE(splash, nullptr);
  EXPECT_EQ(splash->FindGameObject("LogoRing")->Parent(), splash->FindGameObject("Logo"));
  EXPECT_EQ(splash->FindGameObject("LogoRing")->GetComponent<Spinner>()->GetRotationSpeed(), -45.0f);

  log_.Take();
  factory_.LoadLevel("Nowhere", host_);
  EXPECT_EQ(log_.Take(), "[Warning][Core] Tried to load level that doesn't exist: content/data/levels/Nowhere.level\n");
}

TEST_F(FactoryTest, SpacesReadBackInTheCountAndTheNoCountForm) {
  TestHost built;
  BuildSampleSpaces(built);
  GameSpace& source = *built.GetGameSpace("SandboxWorld");
  source.DestroyObject(source.FindGameObject("Ground"));  // the file renumbers what is left
  const std::string counted = TempPath("orv_counted.space");
  const std::string uncounted = TempPath("orv_uncounted.space");
  WriteSpace(source, counted);
  WriteSpace(source, uncounted, true);
  EXPECT_EQ(ReadFile(counted).rfind("SandboxWorld\r\n4\r\nSpaceComponents\r\n", 0), 0u);
  EXPECT_EQ(ReadFile(uncounted).rfind("SandboxWorld\r\nSpaceComponents\r\n", 0), 0u);
  EXPECT_NE(ReadFile(uncounted).find("\r\nGameObject\r\n{\r\n"), std::string::npos);

  for (const std::string& path : {counted, uncounted}) {
    TestHost host;
    GameSpace* loaded = factory_.LoadSpace(path.c_str(), host);
    ASSERT_NE(loaded, nullptr) << path;
    ASSERT_EQ(loaded->GetObjectCount(), 4u);
    for (GameObject* object : source.GetObjects()) {
      GameObject* copy = loaded->FindGameObject(object->GetName());
      ASSERT_NE(copy, nullptr);
      EXPECT_TRUE(copy->Equals(*object)) << path << " " << object->GetName();
      EXPECT_EQ(copy->ChildCount(), object->ChildCount());
    }
    EXPECT_EQ(loaded->FindGameObject("Lamp")->Parent(), loaded->FindGameObject("PillarRight"));
    EXPECT_TRUE(static_cast<TestSpaceComp*>(loaded->GetSpaceComponent())->m_working);
  }
}

TEST_F(FactoryTest, ASpaceFileManyTimesTheReadingWindowLoadsWhole) {
  auto source = NewSpace("Crowd");
  GameObject* previous = nullptr;
  for (uint32_t i = 0; i < GameSpace::kMaxObjects; ++i) {
    GameObject* object = AddObject(*source, ("Member " + std::to_string(i)).c_str(), {float(i), 0.5f, -1.0f},
                                   i % 4 ? previous : nullptr);
    if (i % 3 == 0) AddSpinner(*object, {0.0f, 1.0f, 0.0f}, float(i % 90));
    previous = object;
  }
  const std::string path = TempPath("orv_crowd.space");
  WriteSpace(*source, path);
  ASSERT_GT(ReadFile(path).size(), 10 * Base::File::kWindowSize);

  GameSpace* loaded = factory_.LoadSpace(path.c_str(), host_);
  ASSERT_NE(loaded, nullptr);
  ASSERT_EQ(loaded->GetObjectCount(), GameSpace::kMaxObjects);
  const std::vector<GameObject*> objects = loaded->GetObjects();
  const std::vector<GameObject*> originals = source->GetObjects();
  for (size_t i = 0; i < objects.size(); ++i) {
    ASSERT_TRUE(objects[i]->Equals(*originals[i])) << i;
    ASSERT_EQ(objects[i]->Parent() ? objects[i]->Parent()->m_name : "",
              originals[i]->Parent() ? originals[i]->Parent()->m_name : "");
  }
}

TEST_F(FactoryTest, ACountLineMakesItsObjectsInOneRunUpToWhatTheSpaceHolds) {
  auto space = NewSpace("Counted");
  const GameObject* first = space->CreateObject();
  ASSERT_NE(first, nullptr);
  std::vector<Base::Handle> handles{Base::kNullHandle};
  log_.Take();
  space->CreateObjects(GameSpace::kMaxObjects, handles);
  // Appended after what the list held, one object short: the space had one already.
  ASSERT_EQ(handles.size(), size_t(GameSpace::kMaxObjects));
  EXPECT_EQ(handles[0], Base::kNullHandle);
  for (size_t i = 1; i < handles.size(); ++i) {
    const GameObject* object = space->GetGameObject(handles[i]);
    ASSERT_NE(object, nullptr) << i;
    ASSERT_EQ(object->m_guid, first->m_guid + i);
    ASSERT_EQ(object->GetSpace(), space.get());
    ASSERT_EQ(object->GetSelf(), handles[i]);
  }
  // Each object made is logged as one made alone is; the shortfall once, at the end.
  const std::string log = log_.Take();
  const std::string shortfall =
      "[ Error ][Base] Can't Allocate New Page: Max logical pages has been reached\n"
      "[ Error ][Core] Could not create an object in space \"Counted\": no free block\n";
  ASSERT_GE(log.size(), shortfall.size());
  EXPECT_EQ(log.substr(log.size() - shortfall.size()), shortfall);
  size_t created = 0;
  for (size_t at = log.find("Created object "); at != std::string::npos; at = log.find("Created object ", at + 1))
    ++created;
  EXPECT_EQ(created, size_t(GameSpace::kMaxObjects) - 1);
  EXPECT_EQ(space->GetObjectCount(), GameSpace::kMaxObjects);
}

TEST_F(FactoryTest, LevelNamesAreSeparatedByBlanksAndLineEnds) {
  const std::string a = TempPath("orv_level_a.space");
  const std::string b = TempPath("orv_level_b.space");
  WriteFile(a, "Alpha\r\n0\r\n");
  WriteFile(b, "Beta\n0\n");
  const std::string level = TempPath("orv_separators.level");
  WriteFile(level, "anything at all\r\n" + a + "  " + TempPath("orv_missing.space") + "\r\n\r\n" + b);
  log_.Take();
  factory_.LoadLevel(level.c_str(), host_);
  EXPECT_EQ(host_.Names(), (std::vector<std::string>{"Alpha", "Beta"}));  // the last name had no line end
  // A name that names no file is looked up in the space folder.
  EXPECT_NE(log_.Take().find("[Warning][Core] Tried to load space that doesn't exist: content/data/spaces/" +
                             TempPath("orv_missing.space") + ".space\n"),
            std::string::npos);

  WriteFile(level, "Only the first line\r\n");
  factory_.LoadLevel(level.c_str(), host_);
  EXPECT_EQ(host_.spaces.size(), 2u);
}

TEST_F(FactoryTest, BadCountLinesAreReportedAndTheSpaceIsKeptEmpty) {
  const std::string path = TempPath("orv_bad_count.space");
  // More objects than a space holds is refused before anything is made.
  for (const char* count : {"three", "99999999999", "-2", "2x", "2147483647", "3001"}) {
    WriteFile(path, "Counted " + std::string(count) + "\r\n" + count +
                        "\r\nSpaceComponents\r\n{\r\n}\r\n0:GameObject\r\n{\r\n  m_name string \"A\"\r\n}\r\n");
    log_.Take();
    GameSpace* space = factory_.LoadSpace(path.c_str(), host_);
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->GetObjectCount(), 0u);
    EXPECT_NE(log_.Take().find("[ Error ][Core] Invalid object count \"" + std::string(count) +
                               "\" in space file: " + path + "\n"),
              std::string::npos);
  }
  EXPECT_EQ(recorder_.loaded.size(), 6u);

  // An index past the count names no object; the objects before and after it still load.
  WriteFile(path,
            "Indexed\r\n2\r\n0:GameObject\r\n{\r\n  m_name string \"A\"\r\n}\r\n"
            "99999999999:GameObject\r\n{\r\n}\r\n1:GameObject\r\n{\r\n  m_name string \"B\"\r\n}\r\n");
  log_.Take();
  GameSpace* space = factory_.LoadSpace(path.c_str(), host_);
  EXPECT_NE(log_.Take().find("[ Error ][Core] Invalid object header \"99999999999:GameObject\" in space file: " + path),
            std::string::npos);
  EXPECT_NE(space->FindGameObject("A"), nullptr);
  EXPECT_NE(space->FindGameObject("B"), nullptr);

  log_.Take();
  EXPECT_EQ(factory_.LoadSpace("NoSuchSpace", host_), nullptr);
  EXPECT_EQ(log_.Take(),
            "[Warning][Core] Tried to load space that doesn't exist: content/data/spaces/NoSuchSpace.space\n");
}

// A space file cut short is reported and its level does not count as loaded whole; the space keeps what
// was read. Cut inside an object, after fewer objects than its count, or inside its space components.
TEST_F(FactoryTest, ASpaceFileCutShortIsReportedAndItsLevelIsNotWhole) {
  const std::string path = TempPath("orv_cut.space"), level = TempPath("orv_cut.level");
  const std::string head =
      "Cut\r\n2\r\nSpaceComponents\r\n{\r\n}\r\n0:GameObject\r\n{\r\n  m_name string \"A\"\r\n}\r\n";
  WriteFile(level, "Cut\r\n" + path + "\r\n");
  struct Case {
    std::string text, report;
    size_t objects;
  };
  const Case cases[] = {
      {head + "1:GameObject\r\n{\r\n  m_name string \"B\"\r\n  Transform\r\n  {\r\n    m_transl",
       "ends inside an object block, after 1 whole objects", 2},
      {head, "holds 1 of the 2 objects its count line gives", 2},
      {"Cut\r\nSpaceComponents\r\n{\r\n  TestSpaceComp\r\n  {\r\n", "ends inside its SpaceComponents block", 0},
  };
  for (const Case& cut : cases) {
    WriteFile(path, cut.text);
    TestHost host;
    log_.Take();
    const Factory::LevelLoad load = factory_.LoadLevel(level.c_str(), host);
    EXPECT_TRUE(load.fileRead && load.spacesNamed == 1 && load.spacesLoaded == 1 && load.spacesWhole == 0)
        << cut.report;
    EXPECT_NE(log_.Take().find("[ Error ][Core] Space file cut short: " + path + " " + cut.report + ".\n"),
              std::string::npos)
        << cut.report;
    ASSERT_NE(host.GetGameSpace("Cut"), nullptr);
    EXPECT_EQ(host.GetGameSpace("Cut")->GetObjectCount(), cut.objects);
  }

  // Whole again, the same level loads whole.
  WriteFile(path, head + "1:GameObject\r\n{\r\n}\r\n");
  TestHost host;
  log_.Take();
  EXPECT_TRUE(factory_.LoadLevel(level.c_str(), host).Whole());
  EXPECT_EQ(log_.Take().find("[ Error ]"), std::string::npos);
}

TEST_F(FactoryTest, UnknownComponentBlocksAreSkippedAndEverythingElseLoads) {
  const std::string path = TempPath("orv_unknown_components.space");
  WriteFile(path,
            "Mixed\r\n2\r\nSpaceComponents\r\n{\r\n}\r\n"
            "0:GameObject\r\n{\r\n  m_name string \"Lit\"\r\n  m_parent Handle -1\r\n"
            "  Model\r\n  {\r\n    m_mesh string \"crate.cong\"\r\n    m_material Material\r\n    {\r\n"
            "      m_name string \"default.mat\"\r\n    }\r\n  }\r\n"
            "  Transform\r\n  {\r\n    m_translation Vec3 {1.000000, 2.000000, 3.000000}\r\n  }\r\n"
            "  RigidBody\r\n  {\r\n    m_mass float 2.0\r\n  }\r\n"
            "  Spinner\r\n  {\r\n    m_degreesPerSecond float 7.5\r\n  }\r\n}\r\n"
            "1:GameObject\r\n{\r\n  m_name string \"Child\"\r\n  m_parent Handle 0\r\n"
            "  SoundEmitter\r\n  {\r\n  }\r\n}\r\n");
  log_.Take();
  GameSpace* space = factory_.LoadSpace(path.c_str(), host_);
  const std::string log = log_.Take();
  for (const char* type : {"Model", "RigidBody", "SoundEmitter"})
    EXPECT_NE(log.find("[Warning][Core] Skipped a block of unknown component type \"" + std::string(type) +
                       "\" in file: " + path + "\n"),
              std::string::npos)
        << type;
  GameObject* lit = space->FindGameObject("Lit");
  ASSERT_NE(lit, nullptr);
  EXPECT_EQ(lit->GetComponent<Transform>()->LocalTranslation(), Vec3(1.0f, 2.0f, 3.0f));
  ASSERT_NE(lit->GetComponent<Spinner>(), nullptr);
  EXPECT_EQ(lit->GetComponent<Spinner>()->GetRotationSpeed(), 7.5f);
  EXPECT_EQ(space->FindGameObject("Child")->Parent(), lit);
}

}  // namespace
