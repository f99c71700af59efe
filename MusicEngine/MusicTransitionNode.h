// The music containers' base: their transition rules, read from the bank, looked up from the last
// to the first, and the transition segments they name prepared with the container.
#pragma once

#include <cstdint>

#include "MusicEngine/MusicNode.h"
#include "MusicEngine/MusicTransitionRule.h"

namespace SN {

class CSnMusicTransitionAwareNode : public CSnMusicHierarchyNode {
 public:
  explicit CSnMusicTransitionAwareNode(uint32_t id) : CSnMusicHierarchyNode(id) {}
  ~CSnMusicTransitionAwareNode() override;

  // The rule for a transition between two nodes below `owner`: a rule listing an ancestor (below
  // the owner) matches too; `throughPlaylist` says a destination was listed through an ancestor
  // random/sequence container. Rule 0 when none matches, null without rules.
  const SnMusicTransitionRule* GetTransitionRule(const CSnHierarchyNode* owner, uint32_t sourceId,
                                                 const CSnHierarchyNode* sourceNode, uint32_t destinationId,
                                                 const CSnHierarchyNode* destinationNode,
                                                 bool& throughPlaylist) const;
  // The same by ids alone.
  const SnMusicTransitionRule* FindRuleByIds(uint32_t sourceId, uint32_t destinationId) const;
  // Any source to any destination at the exit cue; lives until FreeDefaultRule.
  static const SnMusicTransitionRule& GetDefaultRule();
  // The default rule's lists go at the music engine's end.
  static void FreeDefaultRule();

  uint32_t RuleCount() const { return m_ruleCount; }
  const SnMusicTransitionRule& Rule(uint32_t index) const { return m_rules[index]; }

  SNRESULT PrepareMusicDependencies() override;
  void UnprepareMusicDependencies() override;

 protected:
  // The music node block, then the rules, which replace those read before.
  SNRESULT ReadTransitionParams(SnMusicReader& in);

 private:
  void FreeRules();
  SNRESULT ReadRule(SnMusicReader& in, SnMusicTransitionRule& rule);

  SnMusicTransitionRule* m_rules = nullptr;
  uint32_t m_ruleCount = 0;
};

}  // namespace SN
