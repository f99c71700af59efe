// The frame render's 2D pass: one canvas layer's DrawLib sprites and texts, on the screen and on
// the 3D2D planes, drawn through the renderer's sprite batch.
#pragma once

#include "Graphics/RenderList.h"

namespace DirectX {
class CommonStates;
class SpriteBatch;
}  // namespace DirectX

namespace Graphics {

class BaseCamera;
class Shader;

// Draws the layer's own block, then each of its 3D2D blocks, through `camera` (the layer's). Does
// nothing when the layer has no sprite or text and no 3D2D block. `pixelShader` ("DrawLib_PS") is
// bound over the batch's own. Sprites whose texture and texts whose font are missing are skipped;
// a toolkit failure is logged (once per kind) and the batch is always closed. The caller re-applies
// its blend state 0 afterwards.
void RenderDrawLibPass(const RenderList::Layer& layer, BaseCamera* camera, DirectX::SpriteBatch& batch,
                       const DirectX::CommonStates& states, Shader* pixelShader);

}  // namespace Graphics
