// Light volumes placed from their data, and models choosing meshes and materials by name.
#include "Base/MathUtil.h"
#include "tests/Graphics/RenderSceneSupport.h"

#include <cmath>

namespace {

using Base::Vec3;
using Base::Vec4;

class LightsAndModels : public ResourceTest::ResourceFixture {};

TEST_F(LightsAndModels, PointAndSpotVolumesFollowTheirData) {
  Graphics::BasePLight point;
  point.m_data.m_position = Vec3(1, 2, 3);
  point.m_data.m_radius = 3.0f;
  const Base::Mat4& pw = *point.GetWorldMatrix();
  EXPECT_FLOAT_EQ(pw.m[0], 6.0f);
  EXPECT_FLOAT_EQ(pw.m[5], 6.0f);
  EXPECT_FLOAT_EQ(pw.m[10], 6.0f);
  EXPECT_FLOAT_EQ(pw.m[3], 1.0f);
  EXPECT_FLOAT_EQ(pw.m[11], 3.0f);

  Graphics::BaseSLight spot;
  spot.m_data.m_direction = Vec4(0, -1, 0, 0);
  const Base::Mat4 down = *spot.GetWorldMatrix();
  const float r = std::tan(Base::DegToRad(22.5f)) * 10.0f;  // 4.142
  EXPECT_NEAR(down.m[0], 2.0f * r, 1e-4f);                    // no turn: the scale is on the diagonal
  EXPECT_NEAR(down.m[5], 1.0f, 1e-6f);
  EXPECT_NEAR(down.m[7], -0.5f, 1e-6f);                       // the cone hangs below the light

  // Pointing along +x the cone's length runs along +x: (0, -1, 0) of the unit cone lands at +x.
  spot.m_data.m_direction = Vec4(1, 0, 0, 0);
  spot.m_beamLength = 2.0f;
  const Base::Vec4 tip = *spot.GetWorldMatrix() * Base::Vec4(0, -0.5f, 0, 1);
  EXPECT_NEAR(tip.x, 2.0f, 1e-4f);
  EXPECT_NEAR(tip.y, 0.0f, 1e-4f);
  spot.m_data.m_direction = Vec4(0, 1, 0, 0);
  const Base::Vec4 up = *spot.GetWorldMatrix() * Base::Vec4(0, -0.5f, 0, 1);
  EXPECT_NEAR(up.y, 2.0f, 1e-4f);
}

TEST_F(LightsAndModels, ModelsKeepTheirMeshOrMaterialWhenTheNameOrIdCannotBeFound) {
  Graphics::BaseModel model;
  const uint32_t mesh = model.GetMeshID(), material = model.GetMaterialID();
  EXPECT_EQ(Base::Resources<Graphics::Mesh>::Instance().GetEntry(mesh)->name, "default.cong");
  log_.Take();
  model.SetMeshByFilename("NoSuchMesh.cong");
  EXPECT_EQ(model.GetMeshID(), mesh);
  EXPECT_EQ(model.m_meshName, "default.cong");
  EXPECT_NE(log_.Take().find("[Warning][Graphics] Could not find mesh filename NoSuchMesh.cong mesh change was refused"),
            std::string::npos);

  const uint32_t count = Base::Resources<Graphics::Mesh>::Instance().GetEntryCount();
  model.SetMeshID(count);
  EXPECT_EQ(model.GetMeshID(), mesh);
  EXPECT_NE(log_.Take().find("Attempting to set invalid meshID " + std::to_string(count) + ", ID change refused"),
            std::string::npos);

  model.SetMeshByFilename("Crate.cong");
  EXPECT_NE(model.GetMeshID(), mesh);
  EXPECT_EQ(model.m_meshName, "Crate.cong");
  model.SetMaterialByFilename("Checker.mat");
  EXPECT_NE(model.GetMaterialID(), material);
  // The same name again finds the loaded entry rather than loading a second one.
  Graphics::BaseModel other;
  other.SetMeshByFilename("Crate.cong");
  EXPECT_EQ(other.GetMeshID(), model.GetMeshID());
}

}  // namespace
