// The stream manager as the sound engine sees it: the one instance, which must exist before the
// sound engine starts.
#pragma once

namespace SN {

class ISnStreamMgr {
 public:
  virtual ~ISnStreamMgr() = default;
  // Null until a stream manager is created.
  inline static ISnStreamMgr* m_pStreamMgr = nullptr;
};

}  // namespace SN
