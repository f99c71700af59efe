// Mesh and animation files written by the content writers, read back through the file headers and
// the mesh manager: header results, a skinned round trip, and files broken on purpose.
#include "Base/Handle.h"
#include "Graphics/Files/BinaryFile.h"
#include "tests/Graphics/ResourceTestSupport.h"

#include <cstring>
#include <map>
#include <string>
#include <tuple>

namespace {

using namespace ContentWriters;
using Files::BinaryFile;

class MeshFiles : public ResourceTest::ResourceFixture {
 protected:
  // Writes content/meshes/<name>.cong (and, with clips, content/animations/<name>.conga).
  std::string WriteMesh(const std::string& stem, const std::vector<uint8_t>& mesh,
                        const std::vector<uint8_t>* animation = nullptr) {
    const std::string name = Unique(stem);
    WriteFile("content/meshes/" + name + ".cong", mesh);
    if (animation) WriteFile("content/animations/" + name + ".conga", *animation);
    return name + ".cong";
  }

  int32_t OpenResult(const Files::GenericHeader& prototype, const std::vector<uint8_t>& bytes) {
    const std::string path = "content/meshes/" + Unique("header.bin");
    WriteFile(path, bytes);
    BinaryFile file;
    file.Open(prototype, path);
    return file.m_result;
  }
};

std::vector<uint8_t> Sealed(std::vector<uint8_t> bytes) {
  SealChecksum(bytes);
  return bytes;
}

TEST_F(MeshFiles, HeaderResultsAndTheirPrecedence) {
  // Eight bytes: the checksum covers nothing and must be 0.
  EXPECT_EQ(OpenResult(Files::GenericHeader(), Sealed({'S', 'Z', 0, 0, 0, 0, 2, 0})), Files::HeaderResult_Valid);
  EXPECT_EQ(OpenResult(Files::GenericHeader(), {'S', 'Y', 0, 0, 0, 0, 2, 0}), Files::HeaderResult_BadSignature);
  // 0x80 is a negative version: out of date.
  EXPECT_EQ(OpenResult(Files::GenericHeader(), {'S', 'Z', 0, 0, 0, 0, 0x80, 0}), Files::HeaderResult_OutOfDate);
  EXPECT_EQ(OpenResult(Files::GenericHeader(), {'S', 'Z', 0, 0, 0, 0, 3, 0}), Files::HeaderResult_FutureVersion);
  // Checksum and version both wrong: the checksum wins.
  EXPECT_EQ(OpenResult(Files::GenericHeader(), {'S', 'Z', 0, 0, 0, 0, 3, 0, 7}), Files::HeaderResult_BadChecksum);
  std::vector<uint8_t> mesh = WriteMeshBytes(MakeBox(1, 1, 1));
  EXPECT_EQ(OpenResult(Files::StaticMeshHeader(), mesh), Files::HeaderResult_Valid);
  log_.Take();
  // Shorter than its header, or than its signature: refused before any field is read.
  EXPECT_EQ(OpenResult(Files::StaticMeshHeader(), std::vector<uint8_t>(mesh.begin(), mesh.begin() + 47)),
            Files::HeaderResult_BadSignature);
  EXPECT_EQ(OpenResult(Files::GenericHeader(), {'S', 'Z', 0}), Files::HeaderResult_BadSignature);
  EXPECT_NE(log_.Take().find("Attempted to read binary file with unrecognized signature"), std::string::npos);
}

TEST_F(MeshFiles, AnimationHeadersWhoseCountsRunPastTheFileAreRefused) {
  std::vector<uint8_t> bytes = WriteAnimationBytes({MakeBendClip("Idle", 2, 3, 0.1f)});
  EXPECT_EQ(OpenResult(Files::AnimationHeader(), bytes), Files::HeaderResult_Valid);
  std::vector<uint8_t> huge = bytes;
  const uint32_t count = 0x7FFFFFFF;
  std::memcpy(huge.data() + 12, &count, 4);
  EXPECT_EQ(OpenResult(Files::AnimationHeader(), Sealed(huge)), Files::HeaderResult_BadSignature);
  // A name without its terminating zero.
  std::vector<uint8_t> unterminated(bytes.begin(), bytes.begin() + 18);
  EXPECT_EQ(OpenResult(Files::AnimationHeader(), Sealed(unterminated)), Files::HeaderResult_BadSignature);
}

TEST_F(MeshFiles, RangesUpToTheSpareByteAreInsideTheFile) {
  const std::string path = "content/meshes/" + Unique("range.bin");
  WriteFile(path, Sealed({'S', 'Z', 0, 0, 0, 0, 2, 0, 1, 2, 3, 4}));
  BinaryFile file;
  file.Open(Files::GenericHeader(), path);
  ASSERT_EQ(file.m_size, 13);
  EXPECT_NE(file.GetData(8, 5), nullptr);
  EXPECT_TRUE(file.m_valid);
  EXPECT_EQ(file.GetData(8, 6), nullptr);
  EXPECT_FALSE(file.m_valid);
  EXPECT_EQ(file.GetData(0xFFFFFFF0u, 0x20), nullptr);  // no wrap-around
}

TEST_F(MeshFiles, SkinnedMeshAndAnimationsRoundTripThroughTheWriter) {
  const uint32_t bones = 4;
  const MeshFileData source = MakeSkinnedBar(6, bones);
  const std::vector<AnimationClip> clips = {MakeBendClip("Walk", bones, 10, 0.3f), MakeBendClip("walk", bones, 7, 0.9f)};
  const std::vector<uint8_t> animation = WriteAnimationBytes(clips);
  const std::string name = WriteMesh("Skinned", WriteMeshBytes(source), &animation);

  Graphics::Mesh* mesh = Base::Resources<Graphics::Mesh>::Instance().GetResourceByName(name);
  ASSERT_NE(mesh, nullptr);
  ASSERT_TRUE(mesh->IsAnimated());
  ASSERT_EQ(mesh->GetVertexCount(), source.vertices.size());
  ASSERT_EQ(mesh->m_indices, source.indices);
  for (size_t i = 0; i < source.vertices.size(); ++i) {
    const MeshFileVertex& s = source.vertices[i];
    const Graphics::MeshVertex& v = mesh->m_vertices[i];
    EXPECT_EQ(v.position, Base::Vec4(s.position[0], s.position[1], s.position[2], 1));
    EXPECT_EQ(v.texCoord, Base::Vec4(s.texCoord[0], s.texCoord[1], 0, 0));
    EXPECT_EQ(v.normal, Base::Vec4(s.normal[0], s.normal[1], s.normal[2], 0));
    EXPECT_EQ(v.binormal, Base::Vec4(s.binormal[0], s.binormal[1], s.binormal[2], 0));
    const Graphics::SkinnedVertex& k = mesh->m_skinnedVertices[i];
    EXPECT_EQ(k.position, Base::Vec4(s.position[0], s.position[1], -s.position[2], 1));  // z mirrored
    EXPECT_EQ(k.normal.z, -s.normal[2]);
    EXPECT_EQ(k.tangent, v.tangent);
    EXPECT_EQ(0, std::memcmp(k.bones, source.skin[i].bones, 16));
    EXPECT_EQ(k.weights, Base::Vec4(source.skin[i].weights[0], source.skin[i].weights[1], 0, 0));
  }
  const Graphics::AnimationData& data = mesh->GetAnimationData();
  ASSERT_EQ(data.GetBoneCount(), bones);
  EXPECT_EQ(data.m_boneParents, source.boneParents);
  EXPECT_EQ(0, std::memcmp(data.GetBoneMatrices().data(), source.boneMatrices.data(), 64 * bones));
  EXPECT_EQ(0, std::memcmp(data.GetSecondBoneMatrices().data(), source.secondBoneMatrices.data(), 64 * bones));
  EXPECT_EQ(data.m_defaultAnimation, "Walk");

  // Names differing in case are different keys; the second block starts after the first.
  const auto* walk = data.GetAnimationByName("Walk");
  const auto* lower = data.GetAnimationByName("walk");
  ASSERT_TRUE(walk && lower);
  EXPECT_EQ(walk->firstRecord, 0u);
  EXPECT_EQ(walk->frameCount, 10u);
  EXPECT_EQ(lower->firstRecord, bones * 10);
  EXPECT_EQ(lower->frameCount, 7u);
  EXPECT_EQ(Base::MurmurHash2("walk", 5, 0) == Base::MurmurHash2("Walk", 5, 0), false);
  for (size_t c = 0; c < clips.size(); ++c) {
    const auto* range = data.GetAnimationByName(clips[c].name.c_str());
    EXPECT_EQ(0, std::memcmp(data.GetAnimationByIndex(range->firstRecord), clips[c].keys.data(), clips[c].keys.size() * 32));
  }
  EXPECT_EQ(mesh->GetIndexCount(), source.indices.size());
  EXPECT_EQ(mesh->GetPointList().size(), source.vertices.size());
  EXPECT_NE(mesh->m_skinnedVertexBuffer, nullptr);
}

// Every face of the sample shapes, as the mesh manager reads their files: its three corners carry one
// unit normal, lie in the face's plane `half` out along that normal from the shape's axis (the bar's
// lies along x, so the distance is taken across it), and are wound counter-clockwise seen from
// outside. Each of the bar's four sides has two triangles per segment.
TEST_F(MeshFiles, EveryFaceOfTheSampleShapesCarriesItsOwnOutwardNormalAndWinding) {
  const std::vector<uint8_t> animation = WriteAnimationBytes({MakeBendClip("Idle", 2, 2, 0.1f)});
  struct Shape {
    const char* name;
    MeshFileData data;
    float half;
  };
  const uint32_t segments = 3;
  for (const Shape& shape : {Shape{"Bar", MakeSkinnedBar(segments, 2), 0.25f}, Shape{"Box", MakeBox(1, 1, 1), 0.5f}}) {
    SCOPED_TRACE(shape.name);
    const bool bar = std::string(shape.name) == "Bar";
    const std::string name = WriteMesh(shape.name, WriteMeshBytes(shape.data), bar ? &animation : nullptr);
    Graphics::Mesh* mesh = Base::Resources<Graphics::Mesh>::Instance().GetResourceByName(name);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->m_indices.size() % 3, 0u);
    std::map<std::tuple<float, float, float>, int> sides;
    for (size_t t = 0; t < mesh->m_indices.size(); t += 3) {
      const Base::Vec4& n = mesh->m_vertices[mesh->m_indices[t]].normal;
      const Base::Vec3 normal(n.x, n.y, n.z);
      ++sides[{n.x, n.y, n.z}];
      EXPECT_NEAR(normal.Length(), 1.0f, 1e-6f) << "triangle " << t / 3;
      Base::Vec3 p[3];
      for (int i = 0; i < 3; ++i) {
        const Graphics::MeshVertex& v = mesh->m_vertices[mesh->m_indices[t + size_t(i)]];
        EXPECT_EQ(v.normal, n) << "triangle " << t / 3 << " corner " << i;
        p[i] = Base::Vec3(v.position.x, v.position.y, v.position.z);
        const Base::Vec3 across = bar ? Base::Vec3(0, p[i].y, p[i].z) : p[i];
        EXPECT_NEAR(across.Dot(normal), shape.half, 1e-6f) << "triangle " << t / 3 << " corner " << i;
      }
      EXPECT_GT((p[1] - p[0]).Cross(p[2] - p[0]).Dot(normal), 0.0f) << "triangle " << t / 3;
    }
    if (bar) {
      const std::map<std::tuple<float, float, float>, int> four = {
          {{0.0f, 0.0f, -1.0f}, 2 * segments}, {{0.0f, 1.0f, 0.0f}, 2 * segments},
          {{0.0f, 0.0f, 1.0f}, 2 * segments}, {{0.0f, -1.0f, 0.0f}, 2 * segments}};
      EXPECT_EQ(sides, four);
    }
  }
}

TEST_F(MeshFiles, AbsentAnimationNamesAreNotFoundWithAWarning) {
  const std::vector<uint8_t> animation = WriteAnimationBytes({MakeBendClip("Idle", 2, 4, 0.1f)});
  const std::string name = WriteMesh("Lookups", WriteMeshBytes(MakeSkinnedBar(2, 2)), &animation);
  Graphics::Mesh* mesh = Base::Resources<Graphics::Mesh>::Instance().GetResourceByName(name);
  ASSERT_NE(mesh, nullptr);
  const Graphics::AnimationData& data = mesh->GetAnimationData();
  log_.Take();
  EXPECT_EQ(data.GetAnimationByName("Run"), nullptr);
  EXPECT_NE(log_.Take().find("[Warning]"), std::string::npos);
  EXPECT_FALSE(data.HasAnimation("Run"));
  EXPECT_TRUE(data.HasAnimation("Idle"));
  EXPECT_EQ(data.FindAnimationByHash(12345), data.GetAnimationByName("Idle"));  // the first one
}

TEST_F(MeshFiles, StaticMeshesReadNoAnimationsAndHonourTheDataOffset) {
  MeshFileData box = MakeBox(2, 1, 1);
  box.dataOffset = 64;  // sections start there; bytes 48..63 are padding
  const std::string name = WriteMesh("Offset", WriteMeshBytes(box));
  Graphics::Mesh* mesh = Base::Resources<Graphics::Mesh>::Instance().GetResourceByName(name);
  ASSERT_NE(mesh, nullptr);
  EXPECT_FALSE(mesh->IsAnimated());
  EXPECT_EQ(mesh->m_vertices[3].position, Base::Vec4(box.vertices[3].position[0], box.vertices[3].position[1],
                                                      box.vertices[3].position[2], 1));
  EXPECT_EQ(mesh->GetExtents(), Base::Vec3(2, 1, 1));
  EXPECT_EQ(log_.Take().find("animation"), std::string::npos);
}

TEST_F(MeshFiles, ANameWithoutTheMeshExtensionHoldsTheDefaultMesh) {
  Graphics::Mesh mesh("Crate");
  ASSERT_TRUE(mesh.IsLoaded());
  EXPECT_EQ(mesh.m_fileName, "Crate");
  EXPECT_EQ(mesh.GetVertexCount(), 24u);  // the default box
}

TEST_F(MeshFiles, ChecksumAndVersionMismatchesStillLoad) {
  std::vector<uint8_t> bytes = WriteMeshBytes(MakeBox(1, 1, 1), 1);
  bytes[7] ^= 0x55;
  const std::string name = WriteMesh("OldVersion", bytes);
  Graphics::Mesh* mesh = Base::Resources<Graphics::Mesh>::Instance().GetResourceByName(name);
  ASSERT_NE(mesh, nullptr);
  EXPECT_NE(log_.Take().find("Attempting to load out of date .cong file with version 1. Current Version is 2"),
            std::string::npos);
}

TEST_F(MeshFiles, MeshFilesWhoseSectionsLeaveTheFileAreNotLoaded) {
  auto& meshes = Base::Resources<Graphics::Mesh>::Instance();
  const std::vector<uint8_t> good = WriteMeshBytes(MakeSkinnedBar(3, 3));
  // Truncated inside the vertices, inside the skin records; vertex and bone counts past the end;
  // a wrong signature.
  std::vector<std::vector<uint8_t>> broken = {Sealed({good.begin(), good.begin() + 100}),
                                              Sealed({good.begin(), good.end() - 4}), good, good, good};
  const uint32_t hugeCount = 0x40000000;
  std::memcpy(broken[2].data() + 8, &hugeCount, 4);
  std::memcpy(broken[3].data() + 20, &hugeCount, 4);
  broken[4][0] = 'X';
  for (size_t i = 0; i < broken.size(); ++i) {
    if (i != 4) SealChecksum(broken[i]);
    const std::string name = WriteMesh("Broken" + std::to_string(i), broken[i]);
    EXPECT_EQ(meshes.GetResourceByName(name), nullptr) << i;
    EXPECT_NE(log_.Take().find("Invalid file \"" + name + "\" loaded."), std::string::npos) << i;
  }
  EXPECT_EQ(meshes.GetResourceByName("OrvTest_missing.cong"), nullptr);
}

TEST_F(MeshFiles, BrokenAnimationFilesLeaveTheMeshUnanimated) {
  const std::vector<uint8_t> mesh = WriteMeshBytes(MakeSkinnedBar(3, 3));
  std::vector<uint8_t> animation = WriteAnimationBytes({MakeBendClip("Idle", 3, 5, 0.1f)});
  animation.resize(animation.size() - 32);  // the last keyframe is missing
  SealChecksum(animation);
  const std::string truncated = WriteMesh("ShortKeys", mesh, &animation);
  const std::string missing = WriteMesh("NoKeys", mesh);
  for (const std::string& name : {truncated, missing}) {
    Graphics::Mesh* loaded = Base::Resources<Graphics::Mesh>::Instance().GetResourceByName(name);
    ASSERT_NE(loaded, nullptr) << name;
    EXPECT_FALSE(loaded->IsAnimated());
    EXPECT_TRUE(loaded->m_skinnedVertices.empty());
    const std::string text = log_.Take();
    const size_t warning = text.find("Could not load animation data associated with content/meshes/" + name);
    EXPECT_NE(warning, std::string::npos) << text;
    // A file that opened is named before its key frames are found short; a missing one never is.
    const std::string stem = name.substr(0, name.size() - 5);
    const size_t opened = text.find("Loading animation file content/animations/" + stem + ".conga ...");
    if (name == truncated) {
      EXPECT_NE(opened, std::string::npos) << text;
      EXPECT_LT(opened, warning) << text;
    } else {
      EXPECT_EQ(text.find("Loading animation file"), std::string::npos) << text;
    }
  }
}

}  // namespace
