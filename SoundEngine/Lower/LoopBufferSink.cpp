// The looping-buffer platform sink; without a platform output every device plays on the silent sink.
#include "SoundEngine/Lower/Sink.h"

namespace SN {

CSnSink* CreateLoopBufferSink(uint32_t) { return nullptr; }

}  // namespace SN
