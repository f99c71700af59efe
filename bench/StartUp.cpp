// Start-up and steady frames of the game. Exec to the first presented frame of "Splash" runs the real
// executable on the whole of the game's content, with one script more that reports that frame and
// quits; the in-process init is timed cold (the process's first) apart from warm (every later one),
// each with the share spent loading scripts, timed between the engine's hooks around them; the steady
// frame is one unpaced pass of the main loop on "Splash", against the clear and present that pass ends
// with. An error line from the game fails the benchmark: a start-up that
// loads no shaders or a frame that draws nothing is quicker than the real one.
// Run under a 1280 x 720 display for frames of that size (xvfb-run -a -s "-screen 0 1280x720x24"); without
// a display the game draws through SDL's offscreen driver.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Base/TraceLog.h"
#include "Core/Hooks.h"
#include "Graphics/Canvas.h"
#include "Graphics/GraphicsMaster.h"
#include "Vantor/Program.h"
#include "Vantor/Window32.h"
#include "Vantor/WindowPresenter.h"
#include "bench/TraceWatch.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Without a display the game and the in-process program draw through SDL's offscreen driver.
void UseOffscreenWithoutDisplay() {
  if (!getenv("DISPLAY") && !getenv("WAYLAND_DISPLAY")) setenv("SDL_VIDEODRIVER", "offscreen", 0);
}

// The content tree with one script more, which writes "splash-presented" and quits on the first frame
// step that ends with "Splash" shown. Levels and scripts are copied (the script joins the game's);
// everything else the game loads (shaders, meshes, animations, materials, textures, fonts, and the sound
// banks under Sound/Banks) is the repository's own, linked.
fs::path MakeTree() {
  const fs::path dir = fs::temp_directory_path() / ("orv_startup_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "content");
  for (const fs::directory_entry& entry : fs::directory_iterator("content")) {
    const fs::path name = entry.path().filename();
    if (name == "data" || name == "lua")
      fs::copy(entry.path(), dir / "content" / name, fs::copy_options::recursive);
    else
      fs::create_directory_symlink(fs::absolute(entry.path()), dir / "content" / name);
  }
  // The game's banks lie beside content/, as the build writes them.
  fs::create_directories(dir / "Sound");
  fs::create_directory_symlink(fs::absolute("Sound/Banks"), dir / "Sound/Banks");
  std::ofstream(dir / "content/lua/game/zz_startup.lua") << R"(
Hook:Add("PostFrameStep", "startup", function()
  if game.spaces.SplashScreen then
    io.write("splash-presented\n")
    io.flush()
    core:Quit()
  end
end)
)";
  return dir;
}

void ExecToFirstSplashFrame(benchmark::State& state) {
  UseOffscreenWithoutDisplay();
  const fs::path dir = MakeTree();
  for (auto _ : state) {
    int out[2];
    if (pipe(out) != 0) state.SkipWithError("no pipe");
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir.c_str()) != 0) _exit(120);
      dup2(out[1], 1);
      close(out[0]);
      execl(ORV_GAME_EXECUTABLE, ORV_GAME_EXECUTABLE, static_cast<char*>(nullptr));
      _exit(122);
    }
    close(out[1]);
    // The game's whole output is kept: an error line anywhere in it, before or after the frame, fails the run.
    std::string seen;
    char buffer[65536];
    double seconds = 0;
    for (ssize_t n; (n = read(out[0], buffer, sizeof(buffer))) > 0;) {
      const size_t from = seen.size() < 32 ? 0 : seen.size() - 32;
      seen.append(buffer, size_t(n));
      if (seconds == 0 && seen.find("splash-presented", from) != std::string::npos)
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!OrvBench::FailOnErrorLine(state, seen)) break;
    if (seconds == 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the game never presented Splash, or did not end cleanly");
      break;
    }
    state.SetIterationTime(seconds);
  }
  fs::remove_all(dir);
}
BENCHMARK(ExecToFirstSplashFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Timestamps of the engine hooks that bracket script loading.
struct Stamps {
  Clock::time_point systems, scripts;
  void Systems() { systems = Clock::now(); }
  void Scripts() { scripts = Clock::now(); }
};

// In-process programs made so far: the first init of a process is the cold one (shaders compiled,
// content read from disk, driver state built for the first time), every later one finds most of that
// warm.
int g_programsInitialised = 0;

// One Init of a fresh program, timed; the share of it spent loading scripts goes to `scriptShare`.
double TimeOneInit(double& scriptShare) {
  Stamps stamps;
  Core::Hooks& hooks = Core::Engine::GetInstance().GetHooks();
  static const Base::Function systems(Base::MakeSignature<&Stamps::Systems>(), &Base::Thunk<&Stamps::Systems>,
                                      "Stamps::Systems");
  static const Base::Function scripts(Base::MakeSignature<&Stamps::Scripts>(), &Base::Thunk<&Stamps::Scripts>,
                                      "Stamps::Scripts");
  hooks.AddSystemListener("SystemPostInit", &stamps, systems);
  hooks.AddSystemListener("EnginePostInit", &stamps, scripts);
  Vantor::Program program;
  const auto start = Clock::now();
  program.Init();
  const auto end = Clock::now();
  ++g_programsInitialised;
  const double seconds = std::chrono::duration<double>(end - start).count();
  scriptShare = seconds > 0 ? std::chrono::duration<double>(stamps.scripts - stamps.systems).count() / seconds : 0;
  program.Shutdown();
  return seconds;
}

// The process's first in-process init, on its own: it cannot be repeated, so it is one iteration, and
// it is registered before every other in-process benchmark. Filtered to run after another one, it
// fails instead of reporting a warm init as a cold one.
void ColdInitInProcess(benchmark::State& state) {
  UseOffscreenWithoutDisplay();
  OrvBench::TraceWatch watch;
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
  double share = 0;
  for (auto _ : state) {
    if (g_programsInitialised > 0) {
      state.SkipWithError("not the process's first init: run the cold init first or on its own");
      break;
    }
    state.SetIterationTime(TimeOneInit(share));
  }
  state.counters["script_share"] = share;
  watch.Check(state);
}
BENCHMARK(ColdInitInProcess)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Inits after the first, each of a fresh program; the median of the repetitions is the figure. A
// process that has made no program yet makes one untimed first.
void WarmInitInProcess(benchmark::State& state) {
  UseOffscreenWithoutDisplay();
  OrvBench::TraceWatch watch;
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
  double share = 0;
  if (g_programsInitialised == 0) TimeOneInit(share);
  for (auto _ : state) state.SetIterationTime(TimeOneInit(share));
  state.counters["script_share"] = share;
  watch.Check(state);
}
BENCHMARK(WarmInitInProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(9)
    ->DisplayAggregatesOnly();

// One unpaced pass of the main loop on "Splash"; with arg 1 only the clear and present of the canvas.
void SteadyFrame(benchmark::State& state) {
  UseOffscreenWithoutDisplay();
  OrvBench::TraceWatch watch;
  Base::TraceLog::GetInstance().SetLevel(Base::TraceLevel_Error);
  Vantor::Program program;
  program.Init();
  program.GetFrameRateController().SetTargetFramerate(0);
  for (int i = 0; i < 30; ++i) program.RunPass();
  Graphics::GraphicsMaster& master = Graphics::GraphicsMaster::GetInstance();
  const int canvas = program.GetWindow()->GetCanvasId();
  const float* c = Vantor::WindowPresenter::kClearColour;
  for (auto _ : state) {
    if (state.range(0) == 0) {
      program.RunPass();
    } else {
      master.Clear(canvas, Base::Vec4(c[0], c[1], c[2], c[3]));
      master.Present(canvas);
    }
  }
  const Base::Vec2 size = master.GetCanvas(canvas) ? master.GetCanvas(canvas)->GetFrameSize() : Base::Vec2();
  state.counters["width"] = size.x;
  state.counters["height"] = size.y;
  program.Shutdown();
  watch.Check(state);
}
BENCHMARK(SteadyFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Repetitions(3)->DisplayAggregatesOnly();

}  // namespace
