// Writing and reading 10,000 reflected instances through the serializer, against fprintf/fscanf of
// the same bytes by hand.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>
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

// Knows the layout in advance: one fscanf per line, names matched as literals.
void ReadByHand(const std::string& path, std::vector<Record>& out) {
  FILE* f = std::fopen(path.c_str(), "r");
  char name[1024];
  for (Record& r : out) {
    char word[16];
    std::fscanf(f, " Record {");
    std::fscanf(f, " m_id int %d", &r.m_id);
    std::fscanf(f, " m_flags unsigned %u", &r.m_flags);
    std::fscanf(f, " m_mass float %f", &r.m_mass);
    std::fscanf(f, " m_speed float %f", &r.m_speed);
    std::fscanf(f, " m_time double %lf", &r.m_time);
    std::fscanf(f, " m_active bool %15s", word);
    r.m_active = std::string_view(word) == "true";
    std::fscanf(f, " m_name string \"%1023[^\"]\"", name);
    r.m_name = name;
    std::fscanf(f, " m_uv Vec2 {%f, %f}", &r.m_uv.x, &r.m_uv.y);
    std::fscanf(f, " m_position Vec3 {%f, %f, %f}", &r.m_position.x, &r.m_position.y, &r.m_position.z);
    std::fscanf(f, " m_scale Vec3 {%f, %f, %f}", &r.m_scale.x, &r.m_scale.y, &r.m_scale.z);
    std::fscanf(f, " m_color Vec4 {%f, %f, %f, %f}", &r.m_color.x, &r.m_color.y, &r.m_color.z, &r.m_color.w);
    std::fscanf(f, " m_rotation Quaternion {%f, %f, %f, %f}", &r.m_rotation.w, &r.m_rotation.x,
                &r.m_rotation.y, &r.m_rotation.z);
    std::fscanf(f, " }");
  }
  std::fclose(f);
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

void BM_ReadFscanf(benchmark::State& state) {
  const std::string path = PathOf("read_fscanf.txt");
  WriteByHand(path);
  std::vector<Record> out(kCount);
  for (auto _ : state) ReadByHand(path, out);
  if (out.back().m_name != Records().back().m_name ||
      out.back().m_rotation.y != Records().back().m_rotation.y)
    state.SkipWithError("read back different values");
  state.SetBytesProcessed(state.iterations() * FileSize(path));
  std::remove(path.c_str());
}
BENCHMARK(BM_ReadFscanf)->Unit(benchmark::kMillisecond);

}  // namespace
