// A voice whose source is always ready, for the bus graph's tests and benchmarks: its own playback
// instance and pipeline, never stopped or paused, made and begun when the lower engine asks, and
// connected to its buses through the lower engine. What it renders is the deriving class's.
#pragma once

#include "SoundEngine/Lower/Pipeline/VoicePipelineConnections.h"
#include "SoundEngine/Lower/Pipeline/VoicePipelineLink.h"

namespace OrvTest {

class ReadyVoice : public SN::ISnVoiceInstance, public SN::ISnVoicePipeline, public SN::ISnVoiceConnections {
 public:
  // ISnVoiceInstance
  bool IsStoppedWithoutOffset() const override { return false; }
  bool IsPaused() const override { return false; }
  bool IsMotion() const override { return false; }
  float PitchRatio() const override { return 1.0f; }
  int32_t InitialOffset() const override { return -1; }
  void SetInitialOffset(int32_t) override {}
  void Stop() override {}
  SN::ISnVoicePipeline* Pipeline() const override { return made ? const_cast<ReadyVoice*>(this) : nullptr; }
  SN::ISnVoicePipeline* PipelineForSecondSource() const override { return nullptr; }

  // ISnVoicePipeline
  SN::SNRESULT Init(SN::ISnVoiceInstance*, uint32_t) override {
    made = true;
    return SN::SN_Success;
  }
  SN::SNRESULT TryLaunch() override { return SN::SN_Success; }
  SN::SNRESULT AddSecondSource(SN::ISnVoiceInstance*) override { return SN::SN_Failure; }
  SN::SNRESULT ConnectBuses() override { return SN::LowerEngine::ConnectVoicePipeline(*this); }
  void Begin() override { state = Playing; }
  void Pause() override {}
  void Resume() override {}
  void StopLooping(SN::ISnVoiceInstance*) override {}
  void Seek() override {}
  State GetState() const override { return state; }
  SN::ISnVoiceInstance* FirstSource() const override { return const_cast<ReadyVoice*>(this); }
  SN::ISnVoiceInstance* SecondSource() const override { return nullptr; }
  bool SourceCanDeliver() override { return true; }
  void EndSource() override {}
  void ReleaseFrameBuffer() override {}
  void EndOfFrame() override {}
  SN::ISnVoiceConnections* Connections() override { return this; }

  // ISnVoiceConnections
  SN::ISnVoicePipeline* Pipeline() override { return this; }
  bool FeedsMotion() const override { return false; }
  uint32_t MotionPlayerMask() const override { return 0; }
  SN::CSnRegisteredObj* GameObject() const override { return nullptr; }
  void SecondGainPass() override {}
  void ForEachPluginOf(uint32_t, void (*)(SN::ISnPlugin*, void*), void*) override {}

  bool made = false;
  State state = Created;
};

}  // namespace OrvTest
