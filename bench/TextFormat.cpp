// Writing and reading 10,000 reflected instances through the serializer, against the same bytes written
// with fprintf and read by a reader written for this one layout.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Base/Math.h"
#include "Base/Reflection/Registration.h"
#include "Base/Serialization/Serializer.h"
#include "Base/TraceLog.h"

namespace BenchText {

struct Record {
  int m_id = 0;
  unsigned m_flags = 0;
  float m_mass = 0.0f;
  float m_speed = 0.0f;
  double m_time = 0.0;
  bool m_active = false;
  std::string m_name;
  Base::Vec2 m_uv;
  Base::Vec3 m_position;
  Base::Vec3 m_scale;
  Base::Vec4 m_color;
  Base::Quaternion m_rotation;
};

}  // namespace BenchText

ORV_REFLECT_TYPE(BenchText::Record, false) {
  ORV_FIELD(m_id);
  ORV_FIELD(m_flags);
  ORV_FIELD(m_mass);
  ORV_FIELD(m_speed);
  ORV_FIELD(m_time);
  ORV_FIELD(m_active);
  ORV_FIELD(m_name);
  ORV_FIELD(m_uv);
  ORV_FIELD(m_position);
  ORV_FIELD(m_scale);
  ORV_FIELD(m_color);
  ORV_FIELD(m_rotation);
}

namespace {

using BenchText::Record;

constexpr int kCount = 10000;

std::vector<Record> MakeRecords() {
  std::vector<Record> records(kCount);
  for (int i = 0; i < kCount; ++i) {
    Record& r = records[i];
    r.m_id = i;
    r.m_flags = unsigned(i) * 2654435761u;
    r.m_mass = 1.5f + float(i % 97);
    r.m_speed = -3.25f * float(i % 13);
    r.m_time = i * 0.001;
    r.m_active = i % 3 == 0;
    r.m_name = "object number " + std::to_string(i);
    r.m_uv = {0.5f, float(i % 7)};
    r.m_position = {float(i), float(-i), 0.125f};
    r.m_scale = {1.0f, 2.0f, 3.0f};
    r.m_color = {0.1f, 0.2f, 0.3f, 1.0f};
    r.m_rotation = {1.0f, 0.0f, float(i % 5) * 0.1f, 0.0f};
  }
  return records;
}

const std::vector<Record>& Records() {
  static const std::vector<Record> records = MakeRecords();
  return records;
}

std::string PathOf(const char* name) { return "/tmp/orv_bench_" + std::to_string(getpid()) + "_" + name; }

// The serializer's open/close lines would swamp the output.
void Quiet() { Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error); }

long FileSize(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  return size;
}

void WriteBySerializer(const std::string& path) {
  Base::File file;
  file.Open(path, Base::File::Mode_Write);
  Base::Serializer serializer;
  for (const Record& r : Records())
    serializer.SerializeInstance(file, Base::Reflection::MakeVariant(const_cast<Record&>(r)));
}

// The same bytes, one fprintf per line.
void WriteByHand(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  for (const Record& r : Records()) {
    std::fprintf(f, "Record\r\n{\r\n");
    std::fprintf(f, "  m_id int %d\r\n", r.m_id);
    std::fprintf(f, "  m_flags unsigned %u\r\n", r.m_flags);
    std::fprintf(f, "  m_mass float %f\r\n", double(r.m_mass));
    std::fprintf(f, "  m_speed float %f\r\n", double(r.m_speed));
    std::fprintf(f, "  m_time double %lf\r\n", r.m_time);
    std::fprintf(f, "  m_active bool %s\r\n", r.m_active ? "true" : "false");
    std::fprintf(f, "  m_name string \"%s\"\r\n", r.m_name.c_str());
    std::fprintf(f, "  m_uv Vec2 {%f, %f}\r\n", double(r.m_uv.x), double(r.m_uv.y));
    std::fprintf(f, "  m_position Vec3 {%f, %f, %f}\r\n", double(r.m_position.x), double(r.m_position.y),
                 double(r.m_position.z));
    std::fprintf(f, "  m_scale Vec3 {%f, %f, %f}\r\n", double(r.m_scale.x), double(r.m_scale.y),
                 double(r.m_scale.z));
    std::fprintf(f, "  m_color Vec4 {%f, %f, %f, %f}\r\n", double(r.m_color.x), double(r.m_color.y),
                 double(r.m_color.z), double(r.m_color.w));
    std::fprintf(f, "  m_rotation Quaternion {%f, %f, %f, %f}\r\n", double(r.m_rotation.w),
                 double(r.m_rotation.x), double(r.m_rotation.y), double(r.m_rotation.z));
    std::fprintf(f, "}\r\n");
  }
  std::fclose(f);
}

void ReadBySerializer(const std::string& path, std::vector<Record>& out) {
  Base::File file;
  file.Open(path, Base::File::Mode_Read);
  Base::Serializer serializer;
  for (Record& r : out) serializer.DeserializeInstance(file, Base::Reflection::MakeVariant(r));
}

// What a reader written for this one layout does: the file through a buffer of the serializer's window
// size, line by line, each line's member and type names matched as literals and its numbers converted by
// std::from_chars (correctly rounded, as the serializer's are). Reads the same bytes, checks the same
// names and gives the same values; a line that is not the expected one stops the read.
class HandReader {
 public:
  explicit HandReader(const std::string& path)
      : m_file(std::fopen(path.c_str(), "rb")), m_buffer(new char[kBufferSize]) {}
  ~HandReader() {
    if (m_file) std::fclose(m_file);
  }
  HandReader(const HandReader&) = delete;
  HandReader& operator=(const HandReader&) = delete;

  bool Read(Record& r) {
    return Line("Record") && Line("{") && Value("  m_id int ", r.m_id) && Value("  m_flags unsigned ", r.m_flags) &&
           Value("  m_mass float ", r.m_mass) && Value("  m_speed float ", r.m_speed) &&
           Value("  m_time double ", r.m_time) && Bool("  m_active bool ", r.m_active) &&
           Text("  m_name string ", r.m_name) && Braced("  m_uv Vec2 ", {&r.m_uv.x, &r.m_uv.y}) &&
           Braced("  m_position Vec3 ", {&r.m_position.x, &r.m_position.y, &r.m_position.z}) &&
           Braced("  m_scale Vec3 ", {&r.m_scale.x, &r.m_scale.y, &r.m_scale.z}) &&
           Braced("  m_color Vec4 ", {&r.m_color.x, &r.m_color.y, &r.m_color.z, &r.m_color.w}) &&
           Braced("  m_rotation Quaternion ", {&r.m_rotation.w, &r.m_rotation.x, &r.m_rotation.y, &r.m_rotation.z}) &&
           Line("}");
  }

 private:
  static constexpr size_t kBufferSize = 64 * 1024;

  // The next line without its line end; the view lasts until the next call.
  bool NextLine(std::string_view& line) {
    const char* end = static_cast<const char*>(std::memchr(m_buffer.get() + m_at, '\n', m_filled - m_at));
    if (!end) {
      // The unread part of the line goes to the front and the rest of the buffer is filled after it.
      std::memmove(m_buffer.get(), m_buffer.get() + m_at, m_filled - m_at);
      m_filled -= m_at;
      m_at = 0;
      if (m_file) m_filled += std::fread(m_buffer.get() + m_filled, 1, kBufferSize - m_filled, m_file);
      end = static_cast<const char*>(std::memchr(m_buffer.get(), '\n', m_filled));
      if (!end) return false;
    }
    const char* from = m_buffer.get() + m_at;
    m_at = size_t(end - m_buffer.get()) + 1;
    line = std::string_view(from, size_t(end - from));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
  }
  bool Line(std::string_view expected) {
    std::string_view line;
    return NextLine(line) && line == expected;
  }
  // The line's value after its expected start, or false.
  bool Rest(std::string_view start, std::string_view& rest) {
    if (!NextLine(rest) || !rest.starts_with(start)) return false;
    rest.remove_prefix(start.size());
    return true;
  }
  template <class T>
  bool Value(std::string_view start, T& value) {
    std::string_view rest;
    return Rest(start, rest) && std::from_chars(rest.data(), rest.data() + rest.size(), value).ec == std::errc();
  }
  bool Bool(std::string_view start, bool& value) {
    std::string_view rest;
    if (!Rest(start, rest)) return false;
    value = rest == "true";
    return true;
  }
  bool Text(std::string_view start, std::string& value) {
    std::string_view rest;
    if (!Rest(start, rest) || rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return false;
    value.assign(rest.data() + 1, rest.size() - 2);
    return true;
  }
  bool Braced(std::string_view start, std::initializer_list<float*> values) {
    std::string_view rest;
    if (!Rest(start, rest) || rest.empty() || rest.front() != '{') return false;
    const char* at = rest.data() + 1;
    const char* end = rest.data() + rest.size();
    for (float* value : values) {
      if (at != rest.data() + 1) {
        if (end - at < 2 || at[0] != ',' || at[1] != ' ') return false;
        at += 2;
      }
      const auto [stop, error] = std::from_chars(at, end, *value);
      if (error != std::errc()) return false;
      at = stop;
    }
    return at + 1 == end && *at == '}';
  }

  FILE* m_file;
  std::unique_ptr<char[]> m_buffer;
  size_t m_at = 0;
  size_t m_filled = 0;
};

bool ReadByHand(const std::string& path, std::vector<Record>& out) {
  HandReader reader(path);
  for (Record& r : out)
    if (!reader.Read(r)) return false;
  return true;
}

void BM_WriteSerializer(benchmark::State& state) {
  Quiet();
  const std::string path = PathOf("write_serializer.txt");
  for (auto _ : state) WriteBySerializer(path);
  state.SetBytesProcessed(state.iterations() * FileSize(path));
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteSerializer)->Unit(benchmark::kMillisecond);

void BM_WriteFprintf(benchmark::State& state) {
  const std::string path = PathOf("write_fprintf.txt");
  for (auto _ : state) WriteByHand(path);
  state.SetBytesProcessed(state.iterations() * FileSize(path));
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteFprintf)->Unit(benchmark::kMillisecond);

void BM_ReadSerializer(benchmark::State& state) {
  Quiet();
  const std::string path = PathOf("read_serializer.txt");
  WriteBySerializer(path);
  std::vector<Record> out(kCount);
  for (auto _ : state) ReadBySerializer(path, out);
  if (out.back().m_name != Records().back().m_name ||
      out.back().m_rotation.y != Records().back().m_rotation.y)
    state.SkipWithError("read back different values");
  state.SetBytesProcessed(state.iterations() * FileSize(path));
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadSerializer)->Unit(benchmark::kMillisecond);

void BM_ReadByHand(benchmark::State& state) {
  const std::string path = PathOf("read_by_hand.txt");
  WriteByHand(path);
  std::vector<Record> out(kCount);
  bool read = true;
  for (auto _ : state) read = ReadByHand(path, out) && read;
  if (!read || out.back().m_name != Records().back().m_name ||
      out.back().m_rotation.y != Records().back().m_rotation.y)
    state.SkipWithError("read back different values");
  state.SetBytesProcessed(state.iterations() * FileSize(path));
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadByHand)->Unit(benchmark::kMillisecond);

}  // namespace
