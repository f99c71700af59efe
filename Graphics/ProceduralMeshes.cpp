// The generators of the built-in meshes. Each mesh keeps its lists: its GPU buffers were filled
// from them and keep pointing at them.
#include "Graphics/ProceduralMeshes.h"

#include "Graphics/Log.h"
#include "Graphics/RenderCore.h"
#include "Base/ResourceCollection.h"

#include <algorithm>
#include <cmath>

namespace Graphics {

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;

Base::Vec3 Circle(uint32_t i, uint32_t t) {
  const float a = float(i) * kTwoPi / float(t);
  return Base::Vec3(std::sin(a), 0, std::cos(a));
}

MeshVertex Vertex(const Base::Vec3& p, float u, float v, const Base::Vec3& n) {
  return {Base::Vec4(p, 1), Base::Vec4(u, v, 0, 0), Base::Vec4(n, 0), Base::Vec4(0, 0, 0, 1), Base::Vec4(0, 0, 0, 1)};
}

void Triangle(std::vector<uint32_t>& indices, uint32_t a, uint32_t b, uint32_t c) {
  indices.push_back(a);
  indices.push_back(b);
  indices.push_back(c);
}

// Below 3 the rings have no area (and the cap loops would wrap): warn and use 3.
uint32_t CheckTessellation(uint32_t t, const char* message) {
  if (t >= 3) return t;
  GFX_LOG(Warning, "%s", message);
  return 3;
}

uint32_t Finish(std::vector<MeshVertex>& vertices, std::vector<uint32_t>& indices, bool inverted) {
  auto* mesh = new Mesh();
  if (inverted) InvertMesh(vertices, indices);
  BuildMeshBuffers(vertices, indices, *mesh);
  return AddProceduralMesh(mesh);
}

}  // namespace

void CreateCylinderCap(std::vector<MeshVertex>& vertices, std::vector<uint32_t>& indices, uint32_t t, float height,
                       float radius, bool top) {
  const uint32_t base = uint32_t(vertices.size());
  for (uint32_t j = 2; j < t; ++j) {
    uint32_t i1 = (j - 1) % t, i2 = j % t;
    if (top) std::swap(i1, i2);
    Triangle(indices, base + i1, base, base + i2);
  }
  const Base::Vec3 m = top ? Base::Vec3(0, 1, 0) : Base::Vec3(0, -1, 0);
  const float sx = top ? -0.5f : 0.5f, sy = -0.5f;
  for (uint32_t i = 0; i < t; ++i) {
    const Base::Vec3 c = Circle(i, t);
    vertices.push_back(Vertex(c * radius + m * height, c.x * sx + 0.5f, c.z * sy + 0.5f, m));
  }
}

void InvertMesh(std::vector<MeshVertex>& vertices, std::vector<uint32_t>& indices) {
  for (size_t i = 0; i + 2 < indices.size(); i += 3) std::swap(indices[i], indices[i + 2]);
  for (MeshVertex& v : vertices) {
    v.normal = -v.normal;
    v.texCoord.x = 1 - v.texCoord.x;
  }
}

void BuildMeshBuffers(std::vector<MeshVertex>& vertices, std::vector<uint32_t>& indices, Mesh& mesh) {
  mesh.m_vertices = std::move(vertices);
  mesh.m_indices = std::move(indices);
  mesh.m_vertexCount = uint32_t(mesh.m_vertices.size());
  mesh.m_indexCount = uint32_t(mesh.m_indices.size());
  mesh.m_vertexBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Vertex, mesh.m_vertices.data(),
                                                    uint32_t(mesh.m_vertices.size() * sizeof(MeshVertex)), 80, 0, 0);
  mesh.m_indexBuffer = std::make_unique<GPUBuffer>(GPUBuffer::Index, mesh.m_indices.data(),
                                                   uint32_t(mesh.m_indices.size() * sizeof(uint32_t)), 4, 0, 0);
  if (mesh.m_vertices.empty()) return;
  Base::Vec3 lo(mesh.m_vertices[0].position.x, mesh.m_vertices[0].position.y, mesh.m_vertices[0].position.z);
  Base::Vec3 hi = lo;
  for (const MeshVertex& v : mesh.m_vertices) {
    lo = Base::Vec3(std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z));
    hi = Base::Vec3(std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z));
  }
  mesh.m_boundsMin = lo;
  mesh.m_boundsMax = hi;
}

uint32_t AddProceduralMesh(Mesh* mesh) {
  mesh->m_loaded = true;
  Base::ResourceCollection::Entry entry;
  entry.resource = mesh;
  entry.loaded = true;
  return uint32_t(Base::Resources<Mesh>::Instance().AddEntry(std::move(entry)));
}

uint32_t CreateConeMesh(float diameter, float height, uint32_t t, bool inverted) {
  t = CheckTessellation(t, "Cone tesselation parameter too small");
  std::vector<MeshVertex> vertices;
  std::vector<uint32_t> indices;
  const float r = diameter / 2;
  const Base::Vec3 top(0, height / 2, 0);
  const uint32_t n = 2 * (t + 1);
  for (uint32_t i = 0; i <= t; ++i) {
    const Base::Vec3 side = Circle(i, t) * r;
    const Base::Vec3 p = side - top;
    const float b = float(i) * kPi * 2 / float(t) + kHalfPi;
    const Base::Vec3 tangent(std::sin(b), 0, std::cos(b));
    const Base::Vec3 normal = Base::Cross(tangent, top - p).Normalized();
    MeshVertex apex = Vertex(top, 0, 0, normal);
    apex.texCoord = Base::Vec4(0, 0, 0, 1);
    vertices.push_back(apex);
    vertices.push_back(Vertex(p, float(i) / float(t), 1, normal));
    Triangle(indices, (2 * i + 3) % n, 2 * i, (2 * i + 1) % n);
  }
  CreateCylinderCap(vertices, indices, t, height / 2, r, false);
  return Finish(vertices, indices, inverted);
}

uint32_t CreateCubeMesh(float size, bool inverted) {
  static const Base::Vec3 kNormals[6] = {{0, 0, 1}, {0, 0, -1}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
  std::vector<MeshVertex> vertices;
  std::vector<uint32_t> indices;
  const float half = size / 2;
  for (int f = 0; f < 6; ++f) {
    const Base::Vec3 n = kNormals[f];
    const Base::Vec3 basis = f < 4 ? Base::Vec3(0, 1, 0) : Base::Vec3(0, 0, 1);
    const Base::Vec3 side1 = Base::Cross(n, basis);
    const Base::Vec3 side2 = Base::Cross(n, side1);
    const uint32_t base = uint32_t(vertices.size());
    Triangle(indices, base, base + 2, base + 1);
    Triangle(indices, base, base + 3, base + 2);
    vertices.push_back(Vertex((n - side1 - side2) * half, 1, 0, n));
    vertices.push_back(Vertex((n - side1 + side2) * half, 1, 1, n));
    vertices.push_back(Vertex((n + side1 + side2) * half, 0, 1, n));
    vertices.push_back(Vertex((n + side1 - side2) * half, 0, 0, n));
  }
  return Finish(vertices, indices, inverted);
}

uint32_t CreateCylinderMesh(float height, float diameter, uint32_t t, bool inverted) {
  t = CheckTessellation(t, "Cylinder tesselation parameter too small");
  std::vector<MeshVertex> vertices;
  std::vector<uint32_t> indices;
  const Base::Vec3 top(0, height / 2, 0);
  const float r = diameter / 2;
  const uint32_t n = 2 * (t + 1);
  for (uint32_t i = 0; i <= t; ++i) {
    const Base::Vec3 normal = Circle(i, t);
    const Base::Vec3 side = normal * r;
    const float u = float(i) / float(t);
    vertices.push_back(Vertex(side + top, u, 0, normal));
    vertices.push_back(Vertex(side - top, u, 1, normal));
    Triangle(indices, (2 * i + 2) % n, 2 * i, 2 * i + 1);
    Triangle(indices, (2 * i + 2) % n, 2 * i + 1, (2 * i + 3) % n);
  }
  CreateCylinderCap(vertices, indices, t, height / 2, r, true);
  CreateCylinderCap(vertices, indices, t, height / 2, r, false);
  return Finish(vertices, indices, inverted);
}

uint32_t CreateLineMesh(float, bool inverted) {
  std::vector<MeshVertex> vertices(2);
  vertices[0] = {Base::Vec4(0, 0, 0, 1), Base::Vec4(0, 0, 0, 1), Base::Vec4(0, 1, 0, 1), Base::Vec4(0, 0, 0, 1),
                 Base::Vec4(0, 0, 0, 1)};
  vertices[1] = vertices[0];
  vertices[1].position = Base::Vec4(1, 0, 0, 1);
  std::vector<uint32_t> indices = {0, 1};
  return Finish(vertices, indices, inverted);
}

uint32_t CreateSphereMesh(float diameter, uint32_t t, bool inverted) {
  t = CheckTessellation(t, "Sphere tesselation parameter too small");
  std::vector<MeshVertex> vertices;
  std::vector<uint32_t> indices;
  const float r = diameter / 2;
  const uint32_t s = 2 * t + 1;
  for (uint32_t i = 0; i <= t; ++i) {
    const float v = 1 - float(i) / float(t);
    const float lat = float(i) * kPi / float(t) - kHalfPi;
    const float dy = std::sin(lat), dxz = std::cos(lat);
    for (uint32_t j = 0; j <= 2 * t; ++j) {
      const float u = float(j) / float(2 * t);
      const float lon = float(j) * kTwoPi / float(2 * t);
      const Base::Vec3 normal(std::sin(lon) * dxz, dy, std::cos(lon) * dxz);
      vertices.push_back(Vertex(normal * r, u, v, normal));
    }
  }
  for (uint32_t i = 0; i < t; ++i)
    for (uint32_t j = 0; j <= 2 * t; ++j) {
      const uint32_t nj = (j + 1) % s;
      Triangle(indices, i * s + j, i * s + nj, (i + 1) * s + j);
      Triangle(indices, i * s + nj, (i + 1) * s + nj, (i + 1) * s + j);
    }
  return Finish(vertices, indices, inverted);
}

uint32_t CreateTorusMesh(float diameter, float thickness, uint32_t t, bool inverted) {
  t = CheckTessellation(t, "Torus tesselation parameter too small");
  std::vector<MeshVertex> vertices;
  std::vector<uint32_t> indices;
  const uint32_t s = t + 1;
  for (uint32_t i = 0; i <= t; ++i) {
    const float u = 1 - float(i) / float(t);
    const float outer = float(i) * kPi * 2 / float(t) - kHalfPi;
    const Base::Mat4 ring = Base::Mat4::BuildRotation(outer, Base::Vec3(0, 1, 0)) *
                            Base::Mat4::BuildTranslation(Base::Vec3(diameter / 2, 0, 0));
    for (uint32_t j = 0; j <= t; ++j) {
      const float inner = float(j) * kTwoPi / float(t) + kPi;
      const Base::Vec4 n(std::cos(inner), std::sin(inner), 0, 0);
      Base::Vec4 p = n * (thickness / 2);
      p.w = 1;
      const float v = 1 - float(j) / float(t);
      const Base::Vec4 position = ring * p;
      const Base::Vec4 normal = ring * n;
      vertices.push_back({position, Base::Vec4(u, v, 0, 0), normal, Base::Vec4(0, 0, 0, 1), Base::Vec4(0, 0, 0, 1)});
      const uint32_t ni = (i + 1) % s, nj = (j + 1) % s;
      Triangle(indices, i * s + nj, i * s + j, ni * s + j);
      Triangle(indices, ni * s + nj, i * s + nj, ni * s + j);
    }
  }
  return Finish(vertices, indices, inverted);
}

uint32_t CreateQuadMesh(float size, bool inverted) {
  const Base::Vec3 n(0, 0, -1);
  std::vector<MeshVertex> vertices;
  const float corners[4][4] = {{-1, 1, 0, 0}, {1, 1, 1, 0}, {-1, -1, 0, 1}, {1, -1, 1, 1}};
  for (const auto& c : corners) {
    MeshVertex v = Vertex(Base::Vec3(0, 0, 0), c[2], c[3], n);
    v.position = Base::Vec4(c[0], c[1], 0, 1) * size;
    vertices.push_back(v);
  }
  std::vector<uint32_t> indices = {0, 1, 2, 2, 1, 3};
  return Finish(vertices, indices, inverted);
}

uint32_t GetQuadMesh() {
  // The render core's quad, built with its device: an id kept here from first use would outlive the
  // render core's shutdown, which empties the mesh manager, and name another mesh or none afterwards.
  return RenderCore::GetInstance().GetMeshID(RenderCore::QuadMesh);
}

}  // namespace Graphics
