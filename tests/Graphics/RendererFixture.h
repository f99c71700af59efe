// Tests of renderer parts: the program-wide device, and the trace log captured line by line.
#pragma once

#include "Base/TraceLog.h"
#include "Graphics/Device.h"
#include "tests/Platform/GpuTestSupport.h"

#include <unistd.h>

namespace GpuTest {

// Redirects the trace log into a temporary file while it lives.
class LogCapture {
 public:
  LogCapture() : file_(tmpfile()) {
    Base::TraceLog::GetInstance().SetOutput(file_);
    Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Verbose);
  }
  ~LogCapture() {
    Base::TraceLog::GetInstance().SetOutput(stdout);
    fclose(file_);
  }
  std::string Take() {
    std::string text;
    rewind(file_);
    for (int c; (c = fgetc(file_)) != EOF;) text += char(c);
    rewind(file_);
    if (ftruncate(fileno(file_), 0) != 0) ADD_FAILURE();
    return text;
  }

 private:
  FILE* file_;
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
