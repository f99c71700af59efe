// Fuzz target of the value text reader: one instance of a record holding every kind of value the
// text format has (numbers, words, quoted strings, braced vectors, handles, enumerations, a nested
// record), read from a file as the serializer reads any instance.
#include <string>

#include "Base/Handle.h"
#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Base/Serialization/File.h"
#include "Base/Serialization/Serializer.h"
#include "Base/TraceLog.h"
#include "tests/fuzz/FuzzSupport.h"

namespace FuzzText {

struct Part {
  int m_count = 0;
  std::string m_label;
  Base::Vec3 m_at;
};

struct Sample {
  char m_char = 'x';
  int m_int = 0;
  unsigned m_unsigned = 0;
  float m_float = 0.0f;
  double m_double = 0.0;
  bool m_on = false;
  std::string m_text;
  Base::Vec2 m_v2;
  Base::Vec3 m_v3;
  Base::Vec4 m_v4;
  Base::Quaternion m_q;
  Part m_part;
  Base::Handle m_handle;
  Base::TraceLevel m_level = Base::TraceLevel_Error;
};

}  // namespace FuzzText

ORV_REFLECT_TYPE(FuzzText::Part, false) {
  ORV_FIELD(m_count);
  ORV_FIELD(m_label);
  ORV_FIELD(m_at);
}

ORV_REFLECT_TYPE(FuzzText::Sample, false) {
  ORV_FIELD(m_char);
  ORV_FIELD(m_int);
  ORV_FIELD(m_unsigned);
  ORV_FIELD(m_float);
  ORV_FIELD(m_double);
  ORV_FIELD(m_on);
  ORV_FIELD(m_text);
  ORV_FIELD(m_v2);
  ORV_FIELD(m_v3);
  ORV_FIELD(m_v4);
  ORV_FIELD(m_q);
  ORV_FIELD(m_part);
  ORV_FIELD(m_handle);
  ORV_FIELD(m_level);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) { return OrvFuzz::QuietLog(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = OrvFuzz::WriteScratch(data, size, ".txt");
  FuzzText::Sample sample;
  Base::File file;
  file.Open(path, Base::File::Mode_Read);
  Base::Serializer serializer;
  serializer.DeserializeInstance(file, Base::Reflection::MakeVariant(sample));
  file.Close();

  // What was read writes out and reads back in as well.
  file.Open(path, Base::File::Mode_Write);
  serializer.SerializeInstance(file, Base::Reflection::MakeVariant(sample));
  file.Close();
  FuzzText::Sample again;
  file.Open(path, Base::File::Mode_Read);
  Base::Serializer second;
  second.DeserializeInstance(file, Base::Reflection::MakeVariant(again));
  file.Close();
  return 0;
}
