// The resource managers' registry (ids, duplicates, failed loads), the asset-type registry and the
// procedural meshes they hold.
#include "Base/Reflection/TypeRegistry.h"
#include "Graphics/AssetTypeRegistry.h"
#include "Graphics/ProceduralMeshes.h"
#include "tests/Graphics/ResourceTestSupport.h"

namespace {

using Meshes = Base::Resources<Graphics::Mesh>;

class Registries : public ResourceTest::ResourceFixture {};

TEST_F(Registries, DuplicateNamesGetNewEntriesAndKeepTheFirstId) {
  Meshes& meshes = Meshes::Instance();
  Graphics::Mesh* first = meshes.AddResource("Crate.cong");
  Graphics::Mesh* second = meshes.AddResource(std::string("Crate.cong"));
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  EXPECT_EQ(meshes.GetEntryCount(), 2u);
  EXPECT_EQ(meshes.GetResourceID("Crate.cong"), 0);
  EXPECT_EQ(meshes.GetResourceByName("Crate.cong"), first);  // mapped and loaded: no new entry
  EXPECT_EQ(meshes.GetEntryCount(), 2u);
  EXPECT_EQ(meshes.GetResourceById(1), second);
  EXPECT_EQ(meshes.GetEntry(0)->fileName, "Crate.cong");
  EXPECT_EQ(meshes.GetResourceID("Plane.cong"), -1);
  EXPECT_EQ(meshes.GetResourceById(uint32_t(-1)), nullptr);
  EXPECT_EQ(meshes.GetResourceById(2), nullptr);
}

TEST_F(Registries, AFailedNameKeepsItsFirstEntryAndRetriesOnEachLookup) {
  Meshes& meshes = Meshes::Instance();
  EXPECT_EQ(meshes.GetResourceByName("OrvTest_none.cong"), nullptr);
  const std::string log = log_.Take();
  EXPECT_NE(log.find("Invalid file \"OrvTest_none.cong\" loaded."), std::string::npos);
  EXPECT_NE(log.find("[Base]"), std::string::npos);
  EXPECT_EQ(meshes.GetResourceByName("OrvTest_none.cong"), nullptr);
  EXPECT_EQ(meshes.GetResourceByName("OrvTest_none.cong"), nullptr);
  EXPECT_EQ(meshes.GetEntryCount(), 3u);
  EXPECT_EQ(meshes.GetResourceID("OrvTest_none.cong"), 0);
  EXPECT_FALSE(meshes.GetEntry(0)->loaded);

  // An empty name is appended but never mapped.
  meshes.AddResource("");
  EXPECT_EQ(meshes.GetEntryCount(), 4u);
  EXPECT_EQ(meshes.GetResourceID(""), -1);
  EXPECT_EQ(Base::FinalPathElement("a/b\\c.png"), "c.png");
  EXPECT_EQ(Base::FinalPathElement("folder/"), ".");
}

TEST_F(Registries, AssetTypesAreRegisteredInOrderWithTheirLoaders) {
  Base::AssetTypeRegistry& registry = Base::AssetTypeRegistry::GetInstance();
  auto& extensionMap = Base::ResourceManager::GetInstance().m_extensionMap;
  const auto savedLoaders = registry.m_loaders;
  const auto savedExtensions = registry.m_extensions;
  const auto savedTypes = registry.m_assetTypes;
  const auto savedMap = extensionMap;
  registry.m_loaders.clear();
  registry.m_extensions.clear();
  registry.m_assetTypes.clear();

  Base::RegisterDefaultExtensions();
  EXPECT_EQ(registry.m_extensions, std::vector<std::string>({".cong", ".mat", ".spritefont", ".png", ".arche"}));
  const uint32_t types[] = {1, 2, 5, 3, 4};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(registry.m_assetTypes[registry.m_extensions[i]], types[i]);
  EXPECT_EQ(registry.m_loaders.count(".arche"), 0u);
  EXPECT_EQ(extensionMap[".cong"], &Meshes::Instance());

  // The ".cong" loader adds the file to the mesh manager.
  const char* file = "Pyramid.cong";
  Base::Reflection::Variant argument(Base::Reflection::TypeOf<char*>(), const_cast<char*>(file));
  Base::Reflection::Variant none;
  registry.m_loaders[".cong"].Invoke(none, &argument, 1);
  EXPECT_NE(Meshes::Instance().GetResourceID("Pyramid.cong"), -1);
  registry.m_loaders[".cong"].Invoke(none, nullptr, 0);  // reported, nothing loaded
  EXPECT_EQ(Meshes::Instance().GetEntryCount(), 1u);

  registry.m_loaders = savedLoaders;
  registry.m_extensions = savedExtensions;
  registry.m_assetTypes = savedTypes;
  extensionMap = savedMap;

  Graphics::RegisterParticleEnumTypes();
  const Base::Reflection::TypeInfo* rotation = Base::Reflection::TypeRegistry::GetInstance().FindType("RotationType");
  ASSERT_NE(rotation, nullptr);
  EXPECT_EQ(rotation->size, 4u);
}

TEST_F(Registries, ProceduralMeshesHaveTheirCountsAndANewIdPerCall) {
  struct Case {
    uint32_t id, vertices, indices;
  };
  const Case cases[] = {
      {Graphics::CreateCubeMesh(1), 24, 36},
      {Graphics::CreateSphereMesh(1, 6), 7 * 13, 6 * 13 * 6},
      {Graphics::CreateCylinderMesh(1, 1, 8), 18 + 16, 6 * 9 + 2 * 3 * 6},
      {Graphics::CreateConeMesh(1, 1, 8), 18 + 8, 3 * 9 + 3 * 6},
      {Graphics::CreateTorusMesh(1, 0.02f, 12), 13 * 13, 6 * 13 * 13},
      {Graphics::CreateQuadMesh(1), 4, 6},
      {Graphics::CreateLineMesh(1), 2, 2},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].id, uint32_t(i));
    Graphics::Mesh* mesh = Meshes::Instance().GetResourceById(cases[i].id);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->GetVertexCount(), cases[i].vertices) << i;
    EXPECT_EQ(mesh->GetIndexCount(), cases[i].indices) << i;
    EXPECT_NE(mesh->m_indexBuffer, nullptr);
    for (uint32_t index : mesh->m_indices) EXPECT_LT(index, cases[i].vertices) << i;
  }
  EXPECT_EQ(Meshes::Instance().GetResourceID(""), -1);
  EXPECT_EQ(Meshes::Instance().GetEntry(0)->name, "");
  Graphics::Mesh* cube = Meshes::Instance().GetResourceById(cases[0].id);
  EXPECT_EQ(cube->GetExtents(), Base::Vec3(1, 1, 1));
}

TEST_F(Registries, TessellationBelowThreeWarnsAndBuildsThree) {
  for (uint32_t t : {0u, 2u}) {
    const uint32_t id = Graphics::CreateSphereMesh(1, t);
    EXPECT_NE(log_.Take().find("Sphere tesselation parameter too small"), std::string::npos);
    EXPECT_EQ(Meshes::Instance().GetResourceById(id)->GetVertexCount(), 4u * 7u);
    Graphics::CreateCylinderMesh(1, 1, t);
    EXPECT_NE(log_.Take().find("Cylinder tesselation parameter too small"), std::string::npos);
    Graphics::CreateConeMesh(1, 1, t);
    EXPECT_NE(log_.Take().find("Cone tesselation parameter too small"), std::string::npos);
    const uint32_t torus = Graphics::CreateTorusMesh(1, 0.1f, t);
    EXPECT_NE(log_.Take().find("Torus tesselation parameter too small"), std::string::npos);
    EXPECT_EQ(Meshes::Instance().GetResourceById(torus)->GetVertexCount(), 16u);
  }
}

TEST_F(Registries, InvertedMeshesFaceInward) {
  Graphics::Mesh* outside = Meshes::Instance().GetResourceById(Graphics::CreateQuadMesh(2));
  Graphics::Mesh* inside = Meshes::Instance().GetResourceById(Graphics::CreateQuadMesh(2, true));
  EXPECT_EQ(inside->m_indices, std::vector<uint32_t>({2, 1, 0, 3, 1, 2}));
  EXPECT_EQ(inside->m_vertices[0].normal, -outside->m_vertices[0].normal);
  EXPECT_EQ(inside->m_vertices[1].texCoord.x, 1 - outside->m_vertices[1].texCoord.x);
  EXPECT_EQ(outside->m_vertices[3].position, Base::Vec4(2, -2, 0, 2));  // w scaled with the rest
}

}  // namespace
