// Simple meshes built in code (cone, cube, cylinder, line, sphere, torus, quad), each call adding a
// new anonymous, loaded entry to the mesh manager and returning its id.
#pragma once

#include "Graphics/Mesh.h"

#include <cstdint>
#include <vector>

namespace Graphics {

uint32_t CreateConeMesh(float diameter, float height, uint32_t tessellation, bool inverted = false);
uint32_t CreateCubeMesh(float size, bool inverted = false);
uint32_t CreateCylinderMesh(float height, float diameter, uint32_t tessellation, bool inverted = false);
uint32_t CreateLineMesh(float size, bool inverted = false);
uint32_t CreateSphereMesh(float diameter, uint32_t tessellation, bool inverted = false);
uint32_t CreateTorusMesh(float diameter, float thickness, uint32_t tessellation, bool inverted = false);
uint32_t CreateQuadMesh(float size, bool inverted = false);

// The shared unit quad (size 1): the render core's, made again with each of its devices.
uint32_t GetQuadMesh();

void CreateCylinderCap(std::vector<MeshVertex>& vertices, std::vector<uint32_t>& indices, uint32_t tessellation,
                       float height, float radius, bool top);
void InvertMesh(std::vector<MeshVertex>& vertices, std::vector<uint32_t>& indices);
void BuildMeshBuffers(std::vector<MeshVertex>& vertices, std::vector<uint32_t>& indices, Mesh& mesh);
uint32_t AddProceduralMesh(Mesh* mesh);

}  // namespace Graphics
