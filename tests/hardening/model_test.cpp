// Random call sequences: thousands of random interface calls (loads with good and bad names and
// sizes, play, pause, stop, release, snapshots, recordings, playback, null pointers, the whole
// object released and made anew), each result code and the camera state checked against a small
// model of the component. A failure prints the seed, the step and the calls that led to it; run
// the same sequence again with ZELVORA_MODEL_SEED=<seed>. The default run is one fixed seed;
// tests/hardening/longrun.sh runs many seeds and long sequences.
#include <deque>
#include <random>
#include <sstream>

#include <vfwmsgs.h>

#include "hardening/hardening_helpers.h"
#include "playback/playback_media.h"
#include "playback/reader_race.h"

using namespace dlltest;
using namespace hardening;
using namespace previewtest;

namespace {

// What the camera side of one component object should be, as far as the calls so far tell.
struct CameraModel {
  bool haveControl = false;  // a load reached the graph's media control (cleared by ReleaseCamera)
  bool connected = false;    // that load built the whole preview
  bool running = false;
  unsigned long state = 0;
  bool exact = true;  // false after a call whose effect the model leaves open: the state is read back
  long brightness = 0;  // the camera's, set through the controls (every load binds a new filter)

  void Loaded(bool ok) {
    haveControl = true;
    connected = ok;
    running = ok;
    state = ok ? 1 : 0;
    brightness = 0;
  }
  void Released() { *this = CameraModel(); }
};

const wchar_t* const kGoodNames[] = {ZVD_CAMERA_MAIN, L"No Such Camera", nullptr, L""};
struct Size {
  int x, y;
  bool offered;
};
const Size kSizes[] = {{320, 240, true}, {640, 480, true}, {100000, 5, true}, {0, 0, false},
                       {-320, -240, false}, {3000, 600, false}, {161, 121, false}};

class ModelRun {
 public:
  ModelRun(unsigned seed, long steps) : m_seed(seed), m_steps(steps), m_random(seed), m_folder(L"model") {
    m_callbackCell = reinterpret_cast<CallbackCell>(&CallbackCounter::Render);
  }

  // Runs the sequence; false (with the failure printed) at the first disagreement.
  bool Run() {
    NewObject();
    for (m_step = 0; m_step < m_steps; ++m_step) {
      if (!Step()) return false;
      if (!CheckState()) return false;
      if (m_step % 8 == 0) PumpUntil(5);
    }
    m_camera.Reset();
    m_player.Reset();
    return true;
  }

  std::string Failure() const { return m_failure; }

 private:
  unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_random); }

  void NewObject() {
    m_player.Reset();
    m_camera = CreateComponent();
    m_camera.As(&m_player);
    m_model = CameraModel();
    m_camera->SetRenderWnd(m_window.hwnd);
    m_camera->SetRenderCallbackFun(&m_callbackCell);
  }

  void Log(const std::string& call, HRESULT hr) {
    std::ostringstream line;
    line << "  step " << m_step << ": " << call << " -> 0x" << std::hex << static_cast<unsigned long>(hr);
    m_log.push_back(line.str());
    if (m_log.size() > 25) m_log.pop_front();
  }

  bool Fail(const std::string& what) {
    std::ostringstream text;
    text << "model disagrees at step " << m_step << " (" << m_operation << ") of seed " << m_seed << ": " << what
         << "\n  rerun: ZELVORA_MODEL_SEED=" << m_seed << " ZELVORA_MODEL_STEPS=" << (m_step + 1)
         << "\n  last calls:\n";
    for (const std::string& line : m_log) text << line << "\n";
    m_failure = text.str();
    return false;
  }

  bool Expect(HRESULT expected, HRESULT actual, const char* call) {
    if (expected == actual) return true;
    std::ostringstream text;
    text << call << " returned 0x" << std::hex << static_cast<unsigned long>(actual) << ", the model expects 0x"
         << static_cast<unsigned long>(expected);
    return Fail(text.str());
  }

  bool ExpectSuccess(HRESULT actual, const char* call) {
    if (SUCCEEDED(actual)) return true;
    std::ostringstream text;
    text << call << " failed with 0x" << std::hex << static_cast<unsigned long>(actual);
    return Fail(text.str());
  }

  bool CheckState() {
    unsigned long state = 99;
    if (m_camera->GetCurrentCameraState(&state) != S_OK) return Fail("GetCurrentCameraState failed");
    if (state > 3) return Fail("camera state out of range");
    const HRESULT playing = m_camera->IsPlaying();
    if ((playing == S_OK) != (state == 1)) return Fail("IsPlaying disagrees with the camera state");
    if (!m_model.exact) {  // take over what the object says
      m_model.state = state;
      m_model.running = state == 1;
      m_model.exact = true;
      return true;
    }
    if (state != m_model.state) {
      std::ostringstream text;
      text << "camera state " << state << ", the model expects " << m_model.state;
      return Fail(text.str());
    }
    return true;
  }

  // One row of the operation table: a weight out of 100 (the rows are drawn in this order, so a
  // seed always makes the same sequence) and the call with the model's expectation of it.
  struct Operation {
    const char* name;
    unsigned weight;
    bool (ModelRun::*run)();
  };
  static const Operation kOperations[];

  bool Step() {
    unsigned op = Pick(100);
    for (const Operation* row = kOperations;; ++row) {
      if (op < row->weight) {
        m_operation = row->name;
        return (this->*row->run)();
      }
      op -= row->weight;
    }
  }

  // A load of a camera that exists (an unknown, empty or null name opens the first).
  bool LoadCamera() {
    const wchar_t* name = kGoodNames[Pick(4)];
    const Size size = kSizes[Pick(7)];
    const HRESULT hr = m_camera->LoadCameraXY(const_cast<unsigned short*>(W(name)), size.x, size.y);
    Log("LoadCameraXY(" + std::to_string(size.x) + "x" + std::to_string(size.y) + ")", hr);
    if (!Expect(size.offered ? S_OK : 8, hr, "LoadCameraXY")) return false;
    m_model.Loaded(size.offered);
    return true;
  }

  bool LoadWithMicrophone() {
    const HRESULT hr = m_camera->LoadCameraWithAudio(W(ZVD_CAMERA_MAIN), 320, 240, W(ZVD_MICROPHONE_MAIN));
    Log("LoadCameraWithAudio", hr);
    if (!Expect(S_OK, hr, "LoadCameraWithAudio")) return false;
    m_model.Loaded(true);
    return true;
  }

  bool Play() {
    CameraModel& m = m_model;
    const HRESULT hr = m_camera->GraphPlay();
    Log("GraphPlay", hr);
    if (m.running) return Expect(S_OK, hr, "GraphPlay while running");
    if (!m.haveControl) return Expect(E_POINTER, hr, "GraphPlay without a graph");
    if (m.connected) {
      if (!ExpectSuccess(hr, "GraphPlay")) return false;
      m.running = true;
      m.state = 1;
    } else {
      m.exact = false;  // an unconnected graph: whatever the platform makes of it
    }
    return true;
  }

  bool PauseOrStop(bool pause) {
    CameraModel& m = m_model;
    const HRESULT hr = pause ? m_camera->GraphPause() : m_camera->GraphStop();
    Log(pause ? "GraphPause" : "GraphStop", hr);
    if (!m.running) return Expect(S_OK, hr, pause ? "GraphPause when not running" : "GraphStop when not running");
    if (!ExpectSuccess(hr, pause ? "GraphPause" : "GraphStop")) return false;
    m.running = false;
    m.state = pause ? 2 : 3;
    return true;
  }
  bool Pause() { return PauseOrStop(true); }
  bool Stop() { return PauseOrStop(false); }

  bool ReleaseCamera() {
    const HRESULT hr = m_camera->ReleaseCamera();
    Log("ReleaseCamera", hr);
    if (!Expect(S_OK, hr, "ReleaseCamera")) return false;
    m_model.Released();
    return true;
  }

  // Snapshots: null, good, in a folder that does not exist.
  bool Snapshot() {
    const unsigned kind = Pick(3);
    const std::wstring name = kind == 1 ? m_folder.File(L"snap.jpg") : L"Z:\\no\\such\\folder\\snap.jpg";
    const HRESULT hr = m_camera->TakeSnap(kind == 0 ? nullptr : W(name.c_str()));
    Log("TakeSnap", hr);
    return Expect(kind == 0 ? E_POINTER : S_OK, hr, "TakeSnap");
  }

  bool StartRecording() {
    CameraModel& m = m_model;
    const unsigned kind = Pick(4);
    const std::wstring name = m_folder.File(L"rec" + std::to_wstring(m_step) + L".wmv");
    const HRESULT hr = kind == 0 ? m_camera->StartCapture(nullptr) : m_camera->StartCapture2(W(name.c_str()), 0.5);
    Log(kind == 0 ? "StartCapture(null)" : "StartCapture2", hr);
    if (kind == 0) return Expect(E_POINTER, hr, "StartCapture(null)");
    if (!Expect(S_OK, hr, "StartCapture2")) return false;
    if (m.haveControl && m.connected) {
      m.running = true;  // the graph runs on with the writer
      m.state = 1;
    } else if (m.haveControl) {
      m.exact = false;
    }
    return true;
  }

  bool StopRecording() {
    CameraModel& m = m_model;
    const HRESULT hr = m_camera->StopCapture();
    Log("StopCapture", hr);
    if (!m.haveControl) return Expect(E_POINTER, hr, "StopCapture without a graph");
    if (m.connected) {
      if (!Expect(S_OK, hr, "StopCapture")) return false;
      m.running = true;
      m.state = 1;
    } else {
      m.exact = false;
    }
    return true;
  }

  bool FormatLists() {
    unsigned short text[1024] = {};
    const wchar_t* formats[] = {L"RGB24", L"yuy2", L"I420", L"Unknown", L""};
    const unsigned which = Pick(6);
    HRESULT hr;
    if (which == 5) {
      hr = m_camera->EnumSupportFormat(text);
      Log("EnumSupportFormat", hr);
    } else {
      hr = m_camera->EnumSupportXy(W(formats[which]), text);
      Log("EnumSupportXy", hr);
    }
    if (!m_model.haveControl) return true;  // E_POINTER before the first load; the source survives a release
    if (which == 3 || which == 4) return Expect(E_FAIL, hr, "EnumSupportXy(odd name)");
    if (!Expect(S_OK, hr, which == 5 ? "EnumSupportFormat" : "EnumSupportXy")) return false;
    if (which == 5 && !wcsstr(reinterpret_cast<wchar_t*>(text), L"RGB24;")) return Fail("RGB24 missing");
    if (which < 3 && !wcsstr(reinterpret_cast<wchar_t*>(text), L"320*240;")) return Fail("320*240 missing");
    return true;
  }

  // Setters with good, null, zero and bogus values.
  bool Setter() {
    const unsigned which = Pick(6);
    CallbackCell zero = 0;
    HRESULT hr = S_OK;
    switch (which) {
      case 0: hr = m_camera->SetRenderWnd(m_window.hwnd); break;
      case 1: hr = m_camera->SetRenderWnd(reinterpret_cast<HWND>(0x4321)); break;
      case 2: hr = m_camera->SetRenderCallbackFun(&m_callbackCell); break;
      case 3: hr = m_camera->SetRenderCallbackFun(Pick(2) ? &zero : nullptr); break;
      case 4: hr = m_camera->SetNeedReleaseFrame(static_cast<long>(Pick(2))); break;
      default: hr = m_camera->SetNotifyWnd(m_window.hwnd); break;
    }
    Log("setter " + std::to_string(which), hr);
    return Expect(S_OK, hr, "setter");
  }

  // Events and pointer checks.
  bool Events() {
    unsigned long error = 77, detail = 0xABCD0000;
    const unsigned which = Pick(3);
    HRESULT hr;
    if (which == 0) {
      hr = m_camera->OnGraphError(&error, &detail);
      Log("OnGraphError", hr);
      if (!Expect(S_OK, hr, "OnGraphError")) return false;
      if (error != 0 && error != 3 && error != 0x1F) return Fail("OnGraphError result out of range");
      if ((detail & 0xFFFF0000u) != 0xABCD0000u) return Fail("OnGraphError wrote past its two bytes");
      return true;
    }
    hr = which == 1 ? m_camera->OnGraphError(&error, nullptr) : m_camera->GetCurrentCameraState(nullptr);
    Log(which == 1 ? "OnGraphError(null)" : "GetCurrentCameraState(null)", hr);
    return Expect(E_POINTER, hr, "null pointer");
  }

  // Camera controls of the virtual camera: they answer whenever a load left a camera state, in
  // any state, and refuse out-of-range values without touching the camera.
  bool Controls() {
    ComPtr<ICameraMode> modes;
    if (FAILED(m_camera.As(&modes))) return Fail("no ICameraMode");
    const bool loaded = m_model.state != 0;
    const HRESULT none = VFW_E_WRONG_STATE;
    HRESULT hr;
    switch (Pick(3)) {
      case 0: {
        int count = -1;
        hr = modes->GetControlCount(&count);
        Log("GetControlCount", hr);
        if (!Expect(loaded ? S_OK : none, hr, "GetControlCount")) return false;
        return !loaded || count == 10 ? true : Fail("the virtual camera lists 10 controls");
      }
      case 1: {
        const long value = static_cast<long>(Pick(161)) - 80;
        hr = modes->SetControlValue(ZELVORA_CONTROL_BRIGHTNESS, value, ZELVORA_CONTROL_MANUAL);
        Log("SetControlValue(brightness " + std::to_string(value) + ")", hr);
        const bool inRange = value >= -64 && value <= 64;
        if (!Expect(!loaded ? none : inRange ? S_OK : ZELVORA_E_CONTROL_VALUE, hr, "SetControlValue")) return false;
        if (loaded && inRange) m_model.brightness = value;
        return true;
      }
      default: {
        long value = 99, flags = 0;
        hr = modes->GetControlValue(ZELVORA_CONTROL_BRIGHTNESS, &value, &flags);
        Log("GetControlValue(brightness)", hr);
        if (!Expect(loaded ? S_OK : none, hr, "GetControlValue")) return false;
        return !loaded || (value == m_model.brightness && flags == ZELVORA_CONTROL_MANUAL)
                   ? true
                   : Fail("brightness " + std::to_string(value) + ", the model expects " +
                          std::to_string(m_model.brightness));
      }
    }
  }

  // The host lets go of the object and makes a new one.
  bool NewObjectStep() {
    Log("Release object", S_OK);
    m_player.Reset();
    m_camera.Reset();
    if (!PumpUntil(3000, [] { return StreamingThreads() == 0; })) return Fail("streaming threads after release");
    if (!PumpUntil(3000, [] { return LiveDeviceObjects() == 0; })) return Fail("device objects after release");
    NewObject();
    return true;
  }

  // Frames flow a little.
  bool Pump() {
    PumpUntil(Pick(30));
    Log("pump", S_OK);
    return true;
  }

  bool PlayerStep() {
    const unsigned which = Pick(7);
    HRESULT hr;
    switch (which) {
      case 0: {
        const std::wstring file = playback::MediaPath(L"small.wmv");
        hr = playback::OpenDespiteReaderRace([&] {  // Wine's reader settles late under load
          m_player->ReleasePlayFile();
          return m_player->OpenPlayFile(W(file.c_str()));
        });
        Log("OpenPlayFile", hr);
        return Expect(S_OK, hr, "OpenPlayFile");
      }
      case 1:
        hr = m_player->OpenPlayFile(W(L"notes.txt"));
        Log("OpenPlayFile(txt)", hr);
        return Expect(10, hr, "OpenPlayFile(not Windows Media)");
      case 2:
        hr = m_player->StartPaly();
        Log("StartPaly", hr);
        return ExpectSuccess(hr, "StartPaly");
      case 3:
        hr = m_player->StopPlay();
        Log("StopPlay", hr);
        return ExpectSuccess(hr, "StopPlay");
      case 4:
        hr = m_player->ReleasePlayFile();
        Log("ReleasePlayFile", hr);
        return Expect(S_OK, hr, "ReleasePlayFile");
      case 5: {
        unsigned long result = 9;
        hr = m_player->OnGraphNotify(&result);
        Log("OnGraphNotify", hr);
        if (!Expect(S_OK, hr, "OnGraphNotify")) return false;
        return result <= 2 ? true : Fail("OnGraphNotify result out of range");
      }
      default: {
        FrameImage image = {};
        const std::wstring file = playback::MediaPath(L"small.wmv");
        const int frame = static_cast<int>(Pick(20));  // 0 to 19 of 15 pictures
        hr = m_player->LoadFrameFromFile(W(file.c_str()), frame, reinterpret_cast<unsigned long*>(&image));
        Log("LoadFrameFromFile(" + std::to_string(frame) + ")", hr);
        CoTaskMemFree(image.pBits);
        return Expect(frame <= 15 ? S_OK : E_INVALIDARG, hr, "LoadFrameFromFile");
      }
    }
  }

  unsigned m_seed;
  long m_steps;
  long m_step = 0;
  std::mt19937 m_random;
  ScratchFolder m_folder;
  RenderWindow m_window;
  CallbackCell m_callbackCell;
  ComPtr<IIZelvora> m_camera;
  ComPtr<IPlayer> m_player;
  CameraModel m_model;
  std::deque<std::string> m_log;
  std::string m_failure;
  const char* m_operation = "";
};

const ModelRun::Operation ModelRun::kOperations[] = {
    {"load a camera", 12, &ModelRun::LoadCamera},
    {"load with the microphone", 3, &ModelRun::LoadWithMicrophone},
    {"play", 10, &ModelRun::Play},
    {"pause", 5, &ModelRun::Pause},
    {"stop", 5, &ModelRun::Stop},
    {"release the camera", 6, &ModelRun::ReleaseCamera},
    {"snapshot", 6, &ModelRun::Snapshot},
    {"start a recording", 6, &ModelRun::StartRecording},
    {"stop the recording", 5, &ModelRun::StopRecording},
    {"format lists", 5, &ModelRun::FormatLists},
    {"setters", 5, &ModelRun::Setter},
    {"events", 4, &ModelRun::Events},
    {"playback", 9, &ModelRun::PlayerStep},
    {"camera controls", 3, &ModelRun::Controls},
    {"a new object", 3, &ModelRun::NewObjectStep},
    {"pump", 13, &ModelRun::Pump},
};

TEST(RandomCalls, SequencesAgreeWithTheModel) {
  const long seeds = EnvNumber("ZELVORA_MODEL_SEEDS", 1);
  const long firstSeed = EnvNumber("ZELVORA_MODEL_SEED", 20261208);
  const long steps = EnvNumber("ZELVORA_MODEL_STEPS", 400);
  Watchdog watchdog("random calls", static_cast<DWORD>(120 + seeds * steps / 5));
  CallbackCounter::Reset();
  for (long s = 0; s < seeds; ++s) {
    const unsigned seed = static_cast<unsigned>(firstSeed + s);
    ModelRun run(seed, steps);
    const DWORD start = GetTickCount();
    const bool ok = run.Run();
    const ProcessFigures figures = ReadProcessFigures();
    printf("seed %u: %ld steps %s in %lu ms, %ld frames at the callback so far; private %.2f MB, handles %ld "
           "(registry keys %ld), threads %ld\n",
           seed, steps, ok ? "agree" : "DISAGREE", GetTickCount() - start, static_cast<long>(CallbackCounter::frames),
           figures.privateBytes / 1048576.0, figures.handles, figures.registryKeys, figures.threads);
    fflush(stdout);
    ASSERT_TRUE(ok) << run.Failure();
  }
  EXPECT_TRUE(PumpUntil(3000, [] { return StreamingThreads() == 0; }));
  EXPECT_TRUE(PumpUntil(3000, [] { return LiveDeviceObjects() == 0; })) << LiveDeviceObjects();
}

}  // namespace
