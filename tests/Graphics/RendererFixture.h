// Tests of renderer parts: the program-wide device, and the trace log captured line by line.
#pragma once

#include "Base/TraceLog.h"
#include "Graphics/Device.h"
#include "tests/Platform/GpuTestSupport.h"
#include "tests/Support/LogCapture.h"

namespace GpuTest {

// The trace log captured at full detail while it lives; the level it found comes back after.
struct LogCapture : OrvTest::LogCapture {
  LogCapture() : level_(Base::TraceLog::GetInstance().GetLevel()) {
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Verbose);
  }
  ~LogCapture() { Base::TraceLog::GetInstance().SetLevel(level_); }
  Base::TraceLevel level_;
};

class RendererFixture : public GpuFixture {
 protected:
  void SetUp() override {
    Graphics::Device* device = Graphics::GetDevice();
    ASSERT_NE(device->m_device, nullptr);
    device_ = device->m_device;
    context_ = device->m_context;
    log_.Take();
  }

  LogCapture log_;
};

}  // namespace GpuTest
