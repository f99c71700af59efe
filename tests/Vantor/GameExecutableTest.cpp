// The real executable in a content tree of the test's own: a script that quits after a few frames
// ends the run in order with exit code 0, levels naming sound emitters load, under a virtual display
// the window shows its frames, started from another folder it runs where its content is, and it logs
// Info and above unless ORV_LOG_LEVEL asks for more.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>


namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class GameExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("orv_game_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    // The game's own levels and engine scripts; the game folder is the test's.
    fs::create_directories(dir_ / "content/lua");
    fs::copy("content/data", dir_ / "content/data", fs::copy_options::recursive);
    fs::copy("content/lua/engine", dir_ / "content/lua/engine", fs::copy_options::recursive);
    fs::copy("content/lua/game", dir_ / "content/lua/game", fs::copy_options::recursive);
    // What the renderer reads is shared, not copied: shaders, meshes, materials, textures and fonts.
    for (const char* shared : {"shaders", "meshes", "animations", "materials", "textures", "font"})
      if (fs::exists(fs::path("content") / shared))
        fs::create_directory_symlink(fs::absolute(fs::path("content") / shared), dir_ / "content" / shared);
    // The game's banks as the build writes them.
    fs::create_directories(dir_ / "Sound");
    fs::create_directory_symlink(fs::absolute("Sound/Banks"), dir_ / "Sound/Banks");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Starts the game (or `executable`) in the tree (or `folder`) with the given environment changes (an
  // empty value takes the variable away); its output goes to the tree's out.txt.
  pid_t Start(const std::vector<std::pair<std::string, std::string>>& environment,
              const fs::path& executable = ORV_GAME_EXECUTABLE, const fs::path& folder = {}) {
    const fs::path output = dir_ / "out.txt";
    const pid_t child = fork();
    if (child == 0) {
      if (chdir((folder.empty() ? dir_ : folder).c_str()) != 0) _exit(120);
      for (const auto& [name, value] : environment)
        value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
      if (!freopen(output.c_str(), "w", stdout) || !freopen(output.c_str(), "a", stderr)) _exit(121);
      execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
      _exit(122);
    }
    return child;
  }
  // The child's wait status; a run that outlives the limit is killed. The limit only catches a game
  // that never ends: the software-rendered Playground run takes past two minutes when every core is
  // busy (a parallel test run beside another build), so it stays under the test run's own 300 s.
  static int Wait(pid_t child, int seconds = 270) {
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ADD_FAILURE() << "the game did not end in time";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status;
  }
  std::string Output() { return ReadText(dir_ / "out.txt"); }
  // Runs the game to its end and hands back its output; a run that does not exit with code 0 fails.
  std::string RunToCleanExit(const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    const int status = Wait(Start(environment));
    const std::string output = Output();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << output;
    return output;
  }

  // An X server of the test's own. It picks a free display number itself and writes it to a pipe once it
  // takes connections, so that test processes running side by side never race for one. The game
  // connects to the display twice (it checks for one first, then makes its window): without -noreset the
  // server resets when its last client leaves, and a connection made during that reset is dropped.
  struct VirtualDisplay {
    pid_t server = -1;
    std::string name;  // empty when the server did not start
  };
  static VirtualDisplay StartVirtualDisplay(const std::vector<std::string>& options) {
    int ready[2];
    if (pipe(ready) != 0) return {};
    std::vector<std::string> words = {"Xvfb", "-displayfd", std::to_string(ready[1]), "-screen", "0", "1280x720x24",
                                      "-noreset", "-nolisten", "tcp", "-br"};
    words.insert(words.end(), options.begin(), options.end());
    VirtualDisplay display;
    display.server = fork();
    if (display.server == 0) {
      close(ready[0]);
      if (!freopen("/dev/null", "w", stderr)) _exit(121);
      std::vector<char*> arguments;
      for (std::string& word : words) arguments.push_back(word.data());
      arguments.push_back(nullptr);
      execv("/usr/bin/Xvfb", arguments.data());
      _exit(122);
    }
    close(ready[1]);
    std::string number;
    char c;
    while (read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (!number.empty()) {
      display.name = ":" + number;
    } else if (display.server > 0) {
      kill(display.server, SIGTERM);
      waitpid(display.server, nullptr, 0);
      display.server = -1;
    }
    return display;
  }
  static void StopVirtualDisplay(const VirtualDisplay& display) {
    if (display.server <= 0) return;
    kill(display.server, SIGTERM);
    waitpid(display.server, nullptr, 0);
  }
  // The game on that display through SDL's X11 driver.
  pid_t StartUnder(const VirtualDisplay& display) {
    // The X client libraries keep a message-bus connection to the end: not the game's to free.
    WriteText(dir_ / "lsan.supp", ReadText("tests/lsan.supp") + "leak:libdbus-1.so\n");
    return Start({{"DISPLAY", display.name},
                  {"SDL_VIDEODRIVER", "x11"},
                  {"LSAN_OPTIONS", "suppressions=" + (dir_ / "lsan.supp").string() + ":print_suppressions=0"}});
  }

  fs::path dir_;
};

// The error lines of the output other than the `expected` ones.
std::string ErrorsBut(const std::string& output, const std::vector<std::string>& expected) {
  std::string errors;
  for (size_t at = output.find("[ Error ]"); at != std::string::npos; at = output.find("[ Error ]", at + 1)) {
    const size_t end = output.find('\n', at);
    const std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
    if (std::find(expected.begin(), expected.end(), line) == expected.end()) errors += line;
  }
  return errors;
}

// The position of `line` in the output, failing when it is missing.
size_t Find(const std::string& output, const std::string& line) {
  const size_t at = output.find(line);
  EXPECT_NE(at, std::string::npos) << "missing: " << line;
  return at;
}

TEST_F(GameExecutableTest, AScriptsQuitEndsTheRunInOrderWithExitCodeZero) {
  // The first level gets a space whose object carries a sound emitter.
  WriteText(dir_ / "content/data/levels/Splash.level", "Splash\r\nSplashScreen Voices\r\n");
  WriteText(dir_ / "content/data/spaces/Voices.space",
            "Voices\r\nGameObject\r\n{\r\n  m_name string \"Speaker\"\r\n  m_archetype string \"\"\r\n"
            "  m_guid unsigned 0\r\n  m_parent Handle -1\r\n  SoundEmitter\r\n  {\r\n  }\r\n}\r\n");
  WriteText(dir_ / "content/lua/game/zz_quit.lua", R"(
local frames = 0
local function say(text) trace:LogMsg(3, 6, text) end
Hook:Add("PostFrameStep", "quit", function()
  frames = frames + 1
  say("frame " .. frames)
  if frames == 2 then
    local speaker = game.spaces.Voices.space:FindObject("Speaker")
    local emitter = speaker:GetCPPComponent(ComponentDB.SoundEmitter)
    emitter:SetAudioMuted(true)
    emitter:SetBGMMuted(true)
    say("muted " .. tostring(emitter:GetAudioMuted()) .. " " .. tostring(emitter:GetBGMMuted()))
    emitter:SetBGMMuted(false)
    emitter:SetAudioMuted(false)
    say("unmuted " .. tostring(emitter:GetAudioMuted()) .. " " .. tostring(emitter:GetBGMMuted()))
    emitter:PostEvent("Play_Intro")
    emitter:PostEvent("Play_Beep")
  end
  if frames == 5 then core:Quit() end
end)
Hook:Add("GameSpaceDeleted", "quit", function(name) say("deleted " .. name) end)
)");
  const std::string output = RunToCleanExit();

  EXPECT_EQ(output.find("Skipped a block of unknown component type"), std::string::npos) << output;
  Find(output, "[ Info  ][Lua] muted true true\n");
  Find(output, "[ Info  ][Lua] unmuted false false\n");
  // The mutes' events are the general bank's; the intro is no event of any bank.
  EXPECT_EQ(output.find("Mute_"), std::string::npos) << output;
  Find(output, "[ Error ][Audio] Sound Event \"Play_Intro\" post failure.\n");
  EXPECT_EQ(output.find("Play_Beep"), std::string::npos) << output;
  // The pass that quit ends; then the spaces go, then the systems in their order.
  const size_t last = Find(output, "[ Info  ][Lua] frame 5\n");
  EXPECT_EQ(output.find("frame 6"), std::string::npos);
  const size_t deleting = Find(output, "[ Info  ][Core] Deleting GameSpace: \"SplashScreen\"\n");
  const size_t deleted = Find(output, "[ Info  ][Lua] deleted Voices\n");
  const size_t graphics = Find(output, "[ Info  ][Graphics] Shutting down Graphics Master\n");
  EXPECT_LT(last, deleting);
  EXPECT_LT(deleting, graphics);
  EXPECT_LT(deleted, graphics);
}

// The game's sound script: the Splash has a speaker, the Playground a speaker and two chimes of one
// archetype, and the mute switches it shows are the ones any emitter sets.
TEST_F(GameExecutableTest, TheLevelsSpeakersAndChimesShareTheMuteSwitches) {
  WriteText(dir_ / "content/lua/game/zz_sound.lua", R"(
local frames = 0
local function say(text) trace:LogMsg(3, 6, text) end
Hook:Add("PostFrameStep", "sound", function()
  frames = frames + 1
  if frames == 2 then
    local name, _, speaker = gameSound.Speaker()
    say("speaker " .. name .. " " .. tostring(speaker ~= nil))
    speaker:SetBGMMuted(true)
    core:LoadLevel("Playground")
  end
  if frames == 6 then
    local name, _, speaker = gameSound.Speaker()
    say("speaker " .. name .. " " .. tostring(speaker ~= nil) .. " chimes " .. #gameSound.chimes)
    gameSound.chimes[2]:SetAudioMuted(true)
    say("muted " .. tostring(gameSound.chimes[1]:GetBGMMuted()) .. " " .. tostring(speaker:GetAudioMuted()))
    gameSound.SetTense(speaker, true)
    say(table.concat(gameSound.Lines(), "|"))
    speaker:SetAudioMuted(false)
    speaker:SetBGMMuted(false)
    core:Quit()
  end
end)
)");
  const std::string output = RunToCleanExit();
  Find(output, "[ Info  ][Lua] speaker SplashStage true\n");
  Find(output, "[ Info  ][Lua] speaker Playground true chimes 2\n");
  Find(output, "[ Info  ][Lua] muted true true\n");
  Find(output,
       "[ Info  ][Lua] T   tune: playing|C   mood: tense|B   play an effect|M   music: muted|N   all sound: muted\n");
  EXPECT_EQ(ErrorsBut(output, {}), "") << output;
}

// Under SDL's disk driver the game's sound goes to a file: a script that starts the tune leaves audio
// that is not silence.
TEST_F(GameExecutableTest, UnderTheDiskDriverTheTuneLeavesSoundInTheFile) {
  WriteText(dir_ / "content/lua/game/zz_tune.lua", R"(
local frames = 0
Hook:Add("PostFrameStep", "tune", function()
  frames = frames + 1
  if frames == 2 then gameSound.SetTune(select(3, gameSound.Speaker()), true) end
  if frames == 60 then core:Quit() end
end)
)");
  const fs::path file = dir_ / "audio.raw";
  const std::string output = RunToCleanExit({{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", file.string()}});
  const std::string audio = ReadText(file);
  EXPECT_GT(std::count_if(audio.begin(), audio.end(), [](char byte) { return byte != 0; }), 1000) << audio.size();
  EXPECT_EQ(ErrorsBut(output, {}), "") << output;
}

// The game goes on to the Playground as a key press would take it: its crates fall under physics, the
// game's collision handler hears them land, a ray from above finds the fallen crate, and the physics
// debug shapes are drawn with the level. The frame time is the machine's own here (up to 0.1 s a
// frame on a busy one), so nothing depends on how the stack stood up to it.
TEST_F(GameExecutableTest, ThePlaygroundPlaysWithPhysics) {
  WriteText(dir_ / "content/lua/game/zz_play.lua", R"(
local frames = 0
local function say(text) trace:LogMsg(3, 6, text) end
Hook:Add("PostFrameStep", "play", function()
  frames = frames + 1
  if frames == 2 then core:LoadLevel("Playground") end
  local record = game.spaces.Playground
  if frames == 60 and record then
    say("landed " .. tostring(playground.touches.Tumbler ~= nil) .. " " .. tostring(playground.touches.Floor ~= nil))
    local tumbler = record.space:FindObject("Tumbler"):GetCPPComponent(ComponentDB.Transform):Translation()
    local hit = physics:Raycast(record.space, Vector3.new(tumbler.x, 10, tumbler.z), Vector3.new(0, -1, 0))
    say("below " .. tostring(hit.object and hit.object:GetName()))
    physics:SwitchDebugDraw(true)
  end
  if frames == 64 then core:Quit() end
end)
)");
  const std::string output = RunToCleanExit();
  Find(output, "[ Info  ][Lua] landed true true\n");
  Find(output, "[ Info  ][Lua] below Tumbler\n");
  EXPECT_EQ(ErrorsBut(output, {}), "") << output;
  EXPECT_EQ(output.find("[Warning]"), std::string::npos) << output;
}

// With no display SDL would fall back to drawing offscreen, and the game would play unseen with nothing
// able to end it. It says so in one error line, naming both ways to run without a display, and ends
// with exit code 1 before any system starts.
TEST_F(GameExecutableTest, WithoutADisplayItSaysSoInOneLineAndEnds) {
  const int status = Wait(Start({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}}), 60);
  const std::string output = Output();
  ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << output;
  EXPECT_EQ(WEXITSTATUS(status), 1) << output;

  const size_t error = Find(output, "[ Error ][Base] No window can be shown (");
  ASSERT_NE(error, std::string::npos) << output;
  EXPECT_EQ(output.find("[ Error ]", error + 1), std::string::npos) << output;
  const std::string line = output.substr(error, output.find('\n', error) - error);
  EXPECT_NE(line.find("the game needs a display"), std::string::npos) << line;
  EXPECT_NE(line.find("xvfb-run -a -s \"-screen 0 1280x720x24\" build/release/bin/Orvanel"), std::string::npos) << line;
  EXPECT_NE(line.find("SDL_VIDEODRIVER=offscreen build/release/bin/Orvanel"), std::string::npos) << line;
  // Nothing was started: no renderer, no scripts, no level.
  EXPECT_EQ(output.find("Render Core"), std::string::npos) << output;
  EXPECT_EQ(output.find("Loading lua script"), std::string::npos) << output;
  EXPECT_EQ(output.find("Splash.level"), std::string::npos) << output;
  // Nor anything below Info, from the registrations at load on.
  EXPECT_EQ(output.find("[Verbose]"), std::string::npos) << output.substr(0, 2000);
}

// Started from a folder of its own, the game finds its content above its executable (a build keeps it in
// build/<configuration>/bin) and runs there; ORV_LOG_LEVEL asks for every line. With no content there
// either, it says in one line where to run it and ends with exit code 1.
TEST_F(GameExecutableTest, StartedFromAnotherFolderItRunsWhereItsContentIs) {
  const fs::path executable = dir_ / "build/bin/Orvanel", elsewhere = dir_ / "elsewhere";
  fs::create_directories(executable.parent_path());
  fs::create_directories(elsewhere);
  std::error_code linked;
  fs::create_hard_link(ORV_GAME_EXECUTABLE, executable, linked);
  if (linked) fs::copy_file(ORV_GAME_EXECUTABLE, executable);
  WriteText(dir_ / "content/lua/game/zz_quit.lua", R"(
local frames = 0
Hook:Add("PostFrameStep", "quit", function()
  frames = frames + 1
  if frames == 2 then io.open("ran here", "w"):close() end
  if frames == 3 then core:Quit() end
end)
)");
  int status = Wait(Start({{"ORV_LOG_LEVEL", "verbose"}}, executable, elsewhere));
  std::string output = Output();
  ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_TRUE(fs::exists(dir_ / "ran here")) << output;
  Find(output, "[ Info  ][Base] The game's content is in " + fs::canonical(dir_).string() + ": running there\n");
  EXPECT_NE(output.find("[Verbose]"), std::string::npos);
  EXPECT_EQ(ErrorsBut(output, {}), "") << output;

  fs::rename(dir_ / "content", dir_ / "moved");
  status = Wait(Start({}, executable, elsewhere), 60);
  output = Output();
  ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << output;
  EXPECT_EQ(WEXITSTATUS(status), 1) << output;
  const size_t error = Find(output, "[ Error ][Base] The game's content (content/data/levels/Splash.level) is neither");
  ASSERT_NE(error, std::string::npos) << output;
  EXPECT_EQ(output.find("[ Error ]", error + 1), std::string::npos) << output;
  EXPECT_NE(output.find("run the game from the repository root", error), std::string::npos) << output;
  EXPECT_EQ(output.find("Render Core"), std::string::npos) << output;
}

// Naming SDL's offscreen driver is running without a display on purpose: the game plays.
TEST_F(GameExecutableTest, TheOffscreenDriverAskedForByNameIsNoMissingDisplay) {
  WriteText(dir_ / "content/lua/game/zz_quit.lua", R"(
local frames = 0
Hook:Add("PostFrameStep", "quit", function()
  frames = frames + 1
  if frames == 3 then core:Quit() end
end)
)");
  const int status = Wait(Start({{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", "offscreen"}}));
  const std::string output = Output();
  ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_EQ(output.find("No window can be shown"), std::string::npos) << output;
  EXPECT_EQ(ErrorsBut(output, {}), "") << output;
}

// Takes the virtual display's screen while the game runs and checks that the drawn frames reach it:
// the Splash level's lit crate and overlay are not one blank colour.
TEST_F(GameExecutableTest, UnderAVirtualDisplayTheWindowShowsItsFrames) {
  if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  const fs::path screen = dir_ / "screen";
  fs::create_directories(screen);
  const VirtualDisplay display = StartVirtualDisplay({"-fbdir", screen.string()});
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";

  WriteText(dir_ / "content/lua/game/zz_shown.lua", R"(
local frames = 0
Hook:Add("PostFrameStep", "shown", function()
  frames = frames + 1
  if frames == 30 then io.open("shown", "w"):close() end
  if frames == 40 then core:Quit() end
end)
)");
  const pid_t game = StartUnder(display);
  // A software-rendered frame under a loaded machine can take seconds: the game gets as long as any game
  // run (it is killed at 270 s), and a game that never shows its frames is still caught. A game that
  // ends before it shows them ends the wait as well.
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 25000 && !fs::exists(dir_ / "shown"); ++i) {
    if (waitpid(game, &status, WNOHANG) == game) {
      ended = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string image = ReadText(screen / "Xvfb_screen0");
  if (!ended) status = Wait(game);
  StopVirtualDisplay(display);
  ASSERT_TRUE(fs::exists(dir_ / "shown")) << Output();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Output();

  // The screen file is an X window dump: a big-endian header, a colour map, then the pixels.
  auto word = [&](size_t index) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(image.data()) + index * 4;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  };
  ASSERT_GT(image.size(), 100u);
  const uint32_t headerSize = word(0), width = word(4), height = word(5), bitsPerPixel = word(11);
  const uint32_t bytesPerLine = word(12), colours = word(19);
  ASSERT_EQ(bitsPerPixel, 32u);
  const size_t pixels = headerSize + colours * 12;
  ASSERT_GE(image.size(), pixels + size_t(bytesPerLine) * height);
  size_t lit = 0, total = 0;
  for (uint32_t y = 0; y < height; y += 8)
    for (uint32_t x = 0; x < width; x += 8) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(image.data()) + pixels + y * bytesPerLine + x * 4;
      ++total;
      if (int(p[0]) + p[1] + p[2] > 24) ++lit;
    }
  EXPECT_GT(lit * 100, total) << lit << " of " << total << " pixels show anything drawn";
}

// A display that takes the game's connection but cannot give its window OpenGL (a server without the
// GLX extension): the one line the game ends with carries the window system's own reason.
TEST_F(GameExecutableTest, AWindowTheDisplayRefusesIsExplainedInTheWindowSystemsWords) {
  if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  const VirtualDisplay display = StartVirtualDisplay({"-extension", "GLX"});
  ASSERT_FALSE(display.name.empty()) << "Xvfb did not start";
  const int status = Wait(StartUnder(display), 60);
  StopVirtualDisplay(display);
  const std::string output = Output();
  ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << output;
  EXPECT_EQ(WEXITSTATUS(status), 1) << output;

  Find(output, "[ Error ][Base] Window failed to create\n");
  const size_t error = Find(output, "[ Error ][Base] No window can be shown (window creation failed: ");
  ASSERT_NE(error, std::string::npos) << output;
  const std::string line = output.substr(error, output.find('\n', error) - error);
  // SDL's words stand between the prefix and the advice.
  const size_t words = line.find("failed: ") + 8, advice = line.find("): the game needs a display");
  ASSERT_NE(advice, std::string::npos) << line;
  EXPECT_GT(advice, words) << line;
}

}  // namespace
