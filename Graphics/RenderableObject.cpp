// The render order of models.
#include "Graphics/RenderableObject.h"

namespace Graphics {

bool BaseModel::IsDrawnBefore(const RenderableObject* other) const {
  const auto* model = dynamic_cast<const BaseModel*>(other);
  if (!model) return true;
  if (m_materialID != model->m_materialID) return m_materialID < model->m_materialID;
  return m_meshID < model->m_meshID;
}

}  // namespace Graphics
