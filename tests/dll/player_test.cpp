// IPlayer through the registered component: frame extraction from Windows Media files and
// playback into the host's render callback, on files made by ffmpeg for the tests.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/dll_helpers.h"
#include "playback/playback_media.h"
#include "playback/reader_race.h"

namespace dlltest {
namespace {

using playback::kVideoBytes;
using playback::kVideoHeight;
using playback::kVideoWidth;

ComPtr<IPlayer> CreatePlayer() {
  ComPtr<IIZelvora> component = CreateComponent();
  ComPtr<IPlayer> player;
  if (component) {
    EXPECT_EQ(S_OK, component.As(&player));
  }
  return player;
}

std::wstring Media(const wchar_t* name) { return playback::MediaPath(name); }
unsigned short* W(const std::wstring& text) { return dlltest::W(text.c_str()); }

// Opens a file that opens, past the platform reader's settling race (see reader_race.h).
HRESULT Open(IPlayer* player, const wchar_t* name) {
  const std::wstring path = Media(name);
  int raced = 0;
  const HRESULT hr = playback::OpenDespiteReaderRace([&] { return player->OpenPlayFile(W(path)); }, &raced);
  playback::ReportReaderRace(name, raced);
  return hr;
}

// Size of a block from the COM task allocator.
size_t AllocationSize(void* block) {
  ComPtr<IMalloc> allocator;
  if (FAILED(CoGetMalloc(1, &allocator))) return 0;
  return allocator->GetSize(block);
}

unsigned long* Record(FrameImage& image) { return reinterpret_cast<unsigned long*>(&image); }

// A record that tells whether the call wrote to it.
FrameImage Untouched() {
  FrameImage image;
  image.nWidth = -7;
  image.nHeight = -7;
  image.pBits = reinterpret_cast<unsigned char*>(static_cast<UINT_PTR>(0x1234));
  return image;
}

bool IsUntouched(const FrameImage& image) {
  return image.nWidth == -7 && image.nHeight == -7 &&
         image.pBits == reinterpret_cast<unsigned char*>(static_cast<UINT_PTR>(0x1234));
}

// The pictures come from another decoder and colour converter than ffmpeg's: close, not equal.
void ExpectSamePicture(const unsigned char* picture, const wchar_t* reference) {
  std::vector<unsigned char> expected = playback::ReadMediaFile(reference);
  ASSERT_EQ(kVideoBytes, expected.size()) << "reference picture missing: run the tests through ctest";
  playback::PictureDifference d = playback::Compare(picture, expected.data(), kVideoBytes);
  EXPECT_LT(d.mean, 2.0) << "mean difference per byte from " << testing::PrintToString(std::wstring(reference));
  EXPECT_LT(d.max, 16);
}

double MeanDifference(const unsigned char* picture, const wchar_t* reference) {
  std::vector<unsigned char> expected = playback::ReadMediaFile(reference);
  if (expected.size() != kVideoBytes) return -1;
  return playback::Compare(picture, expected.data(), kVideoBytes).mean;
}

// ---- frame extraction ----

TEST(LoadFrameFromFile, PicturesComeOutAsDecodedBottomUp) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  struct Case {
    int frame;
    const wchar_t* reference;
  } cases[] = {{1, L"video-1.bgr"}, {2, L"video-2.bgr"}, {30, L"video-30.bgr"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    FrameImage image = Untouched();
    ASSERT_EQ(S_OK, player->LoadFrameFromFile(W(Media(L"video.wmv")), c.frame, Record(image)));
    EXPECT_EQ(kVideoWidth, image.nWidth);
    EXPECT_EQ(kVideoHeight, image.nHeight);
    ASSERT_TRUE(image.pBits);
    ExpectSamePicture(image.pBits, c.reference);
    CoTaskMemFree(image.pBits);
  }
}

TEST(LoadFrameFromFile, PicturesAreToldApartByNumber) {
  // Neighbouring pictures lie far apart (the hue turns from one to the next): a picture number
  // off by one would show.
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  FrameImage image = Untouched();
  ASSERT_EQ(S_OK, player->LoadFrameFromFile(W(Media(L"video.wmv")), 2, Record(image)));
  const double own = MeanDifference(image.pBits, L"video-2.bgr");
  ASSERT_GE(own, 0);
  EXPECT_LT(own * 5, MeanDifference(image.pBits, L"video-1.bgr"));
  EXPECT_LT(own * 5, MeanDifference(image.pBits, L"video-30.bgr"));
  CoTaskMemFree(image.pBits);
}

TEST(LoadFrameFromFile, NoPictureNumberGivesAnEmptyBufferOfThePictureSize) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  for (int frame : {0, -1, -1000}) {
    SCOPED_TRACE(frame);
    FrameImage image = Untouched();
    ASSERT_EQ(S_OK, player->LoadFrameFromFile(W(Media(L"video.wmv")), frame, Record(image)));
    EXPECT_EQ(kVideoWidth, image.nWidth);
    EXPECT_EQ(kVideoHeight, image.nHeight);
    ASSERT_TRUE(image.pBits);
    EXPECT_EQ(kVideoBytes, AllocationSize(image.pBits));
    CoTaskMemFree(image.pBits);
  }
}

TEST(LoadFrameFromFile, BeyondTheLastPictureFailsButHandsOverTheBuffer) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  FrameImage image = Untouched();
  EXPECT_EQ(E_INVALIDARG, player->LoadFrameFromFile(W(Media(L"video.wmv")), playback::kVideoPictures + 1,
                                                    Record(image)));
  EXPECT_EQ(kVideoWidth, image.nWidth);
  EXPECT_EQ(kVideoHeight, image.nHeight);
  ASSERT_TRUE(image.pBits);
  ExpectSamePicture(image.pBits, L"video-30.bgr");  // the last picture read
  CoTaskMemFree(image.pBits);
}

TEST(LoadFrameFromFile, FilesWithoutAUsablePictureLeaveTheRecordAlone) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  for (const wchar_t* name : {L"audio.wma", L"no-such-file.wmv"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    FrameImage image = Untouched();
    EXPECT_EQ(E_INVALIDARG, player->LoadFrameFromFile(W(Media(name)), 1, Record(image)));
    EXPECT_TRUE(IsUntouched(image));
  }
  FrameImage image = Untouched();
  EXPECT_EQ(E_POINTER, player->LoadFrameFromFile(nullptr, 1, Record(image)));
  EXPECT_TRUE(IsUntouched(image));
  EXPECT_EQ(E_POINTER, player->LoadFrameFromFile(W(Media(L"video.wmv")), 1, nullptr));
}

TEST(LoadFrameFromFile, PaddedRowsFailEveryRead) {
  // 162 pixels of 3 bytes make rows of 486 bytes, which the runtime pads to 488.
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  FrameImage image = Untouched();
  EXPECT_EQ(E_INVALIDARG, player->LoadFrameFromFile(W(Media(L"padded.wmv")), 1, Record(image)));
  EXPECT_EQ(162, image.nWidth);
  EXPECT_EQ(120, image.nHeight);
  ASSERT_TRUE(image.pBits);
  CoTaskMemFree(image.pBits);
}

// ---- playback into the host's render callback ----

// What the render callback saw. The callback runs on the graph's streaming thread.
struct Frames {
  std::mutex mutex;
  int count = 0;
  int nullData = 0;
  int otherSize = 0;  // records whose size differs from `width` x `height`
  int width = 320;
  int height = 240;
  size_t keepBytes = kVideoBytes;  // bytes of picture data kept from the first and last frame
  std::vector<unsigned char> first;
  std::vector<unsigned char> last;

  void Reset(int w, int h, size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    count = nullData = otherSize = 0;
    width = w;
    height = h;
    keepBytes = bytes;
    first.clear();
    last.clear();
  }
  int Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return count;
  }
};
Frames g_frames;

void __cdecl OnFrame(RenderFrame* frame, int, int) {
  std::lock_guard<std::mutex> lock(g_frames.mutex);
  ++g_frames.count;
  if (frame->width != g_frames.width || frame->height != g_frames.height) ++g_frames.otherSize;
  if (!frame->data) {
    ++g_frames.nullData;
    return;
  }
  g_frames.last.assign(frame->data, frame->data + g_frames.keepBytes);
  if (g_frames.count == 1) g_frames.first = g_frames.last;
}

// A message-only window that counts the graph's event notifications.
struct NotifyWindow {
  NotifyWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZelvoraPlayerTestNotify";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    notifications = 0;
  }
  ~NotifyWindow() { DestroyWindow(hwnd); }
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ZELVORA_GRAPHNOTIFY) ++notifications;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  HWND hwnd = nullptr;
  static int notifications;
};
int NotifyWindow::notifications = 0;

// Pumps messages and asks OnGraphNotify after every notification until it answers `answer`.
bool WaitForNotifiedAnswer(IPlayer* player, unsigned long answer, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  int seen = NotifyWindow::notifications;
  while (GetTickCount() - start < milliseconds) {
    NotifyWindow::Pump();
    if (NotifyWindow::notifications != seen) {
      seen = NotifyWindow::notifications;
      unsigned long result = 99;
      if (player->OnGraphNotify(&result) == S_OK && result == answer) return true;
    }
    Sleep(10);
  }
  return false;
}

// Waits until the callback has seen `count` frames.
bool WaitForFrames(int count, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (g_frames.Count() < count && GetTickCount() - start < milliseconds) Sleep(10);
  return g_frames.Count() >= count;
}

TEST(PlayerNames, FamilyNamesOpenOthersAreRefused) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  EXPECT_EQ(E_POINTER, player->OpenPlayFile(nullptr));
  EXPECT_EQ(10, player->OpenPlayFile(W(Media(L"clip.mp4"))));
  unsigned long answer = 99;
  ASSERT_EQ(S_OK, player->OnGraphNotify(&answer));
  EXPECT_EQ(2u, answer) << "the refused name built no graph";
  for (const wchar_t* name : {L"UPPER.WMV", L"video.asf", L"video.asf.bak"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    EXPECT_EQ(S_OK, Open(player.Get(), name));
    EXPECT_EQ(S_OK, player->ReleasePlayFile());
  }
}

TEST(PlayerCalls, AnswersWithoutAFile) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  EXPECT_EQ(E_POINTER, player->OnGraphNotify(nullptr));
  unsigned long answer = 99;
  EXPECT_EQ(S_OK, player->OnGraphNotify(&answer));
  EXPECT_EQ(2u, answer);
  unsigned long state = 1234;
  EXPECT_EQ(S_OK, player->GetPlayState(&state));
  EXPECT_EQ(1234u, state);
  EXPECT_EQ(S_OK, player->GetFileFrameThumb());
  EXPECT_EQ(S_OK, player->SetCallBackRender(nullptr));
  EXPECT_EQ(S_OK, player->SetNotifyEventHwnd(nullptr));
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
  EXPECT_EQ(S_OK, player->StopPlay());
  EXPECT_EQ(S_OK, player->PausePaly());
}

// Plays `file` with its frames counted at the callback (records of width x height and `bytes`
// expected) and the player's events sent to `window` when there is one.
void StartPlaying(IPlayer* player, const wchar_t* file, HWND window, int width = 320, int height = 240,
                  size_t bytes = kVideoBytes) {
  g_frames.Reset(width, height, bytes);
  static CallbackCell cell = reinterpret_cast<CallbackCell>(&OnFrame);
  ASSERT_EQ(S_OK, player->SetCallBackRender(&cell));
  ASSERT_EQ(S_OK, Open(player, file));
  if (window) {
    ASSERT_EQ(S_OK, player->SetNotifyEventHwnd(window));
  }
  ASSERT_TRUE(SUCCEEDED(player->StartPaly()));
}

TEST(PlayerPlayback, FramesReachTheCallbackUntilTheEndAndStopRewinds) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  NotifyWindow window;
  ASSERT_NO_FATAL_FAILURE(StartPlaying(player.Get(), L"video.wmv", window.hwnd));
  ASSERT_TRUE(WaitForNotifiedAnswer(player.Get(), 0, 10000)) << "the end of the file";
  {
    std::lock_guard<std::mutex> lock(g_frames.mutex);
    EXPECT_EQ(playback::kVideoPictures, g_frames.count);
    EXPECT_EQ(0, g_frames.otherSize) << "every record reports 320 x 240";
    EXPECT_EQ(0, g_frames.nullData);
    ASSERT_EQ(kVideoBytes, g_frames.first.size());
    ExpectSamePicture(g_frames.first.data(), L"video-1.bgr");
    ExpectSamePicture(g_frames.last.data(), L"video-30.bgr");
  }
  unsigned long answer = 99;
  ASSERT_EQ(S_OK, player->OnGraphNotify(&answer));
  EXPECT_EQ(2u, answer) << "the queue is drained";
  EXPECT_EQ(S_OK, player->StartPaly()) << "still playing as far as the player knows";

  // Stop goes back to the start; the next start plays the file again from its first picture.
  ASSERT_TRUE(SUCCEEDED(player->StopPlay()));
  g_frames.Reset(320, 240, kVideoBytes);
  ASSERT_TRUE(SUCCEEDED(player->StartPaly()));
  ASSERT_TRUE(WaitForNotifiedAnswer(player.Get(), 0, 10000));
  {
    std::lock_guard<std::mutex> lock(g_frames.mutex);
    EXPECT_GE(g_frames.count, playback::kVideoPictures - 1);
    ASSERT_EQ(kVideoBytes, g_frames.first.size());
    ExpectSamePicture(g_frames.first.data(), L"video-1.bgr");
  }
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
}

TEST(PlayerPlayback, ReleaseWhilePlayingEndsFramesAndNotifications) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  NotifyWindow window;
  ASSERT_NO_FATAL_FAILURE(StartPlaying(player.Get(), L"video.wmv", window.hwnd));
  ASSERT_TRUE(WaitForFrames(3, 5000));
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
  const int framesAtRelease = g_frames.Count();
  NotifyWindow::Pump();
  const int notificationsAtRelease = NotifyWindow::notifications;
  Sleep(500);
  NotifyWindow::Pump();
  EXPECT_EQ(framesAtRelease, g_frames.Count());
  EXPECT_EQ(notificationsAtRelease, NotifyWindow::notifications) << "the window is detached";
  unsigned long answer = 99;
  EXPECT_EQ(S_OK, player->OnGraphNotify(&answer));
  EXPECT_EQ(2u, answer);

  // The callback survives the release: the next file reaches it.
  g_frames.Reset(320, 240, kVideoBytes);
  ASSERT_EQ(S_OK, Open(player.Get(), L"video.wmv"));
  ASSERT_TRUE(SUCCEEDED(player->StartPaly()));
  EXPECT_TRUE(WaitForFrames(1, 5000));
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
}

TEST(PlayerPlayback, TheNotifyWindowStaysForTheNextFile) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  NotifyWindow window;
  ASSERT_EQ(S_OK, Open(player.Get(), L"video.wmv"));
  ASSERT_EQ(S_OK, player->SetNotifyEventHwnd(window.hwnd));
  // Another file without ReleasePlayFile: the player builds a new graph, which still notifies.
  ASSERT_EQ(S_OK, Open(player.Get(), L"small.wmv"));
  ASSERT_TRUE(SUCCEEDED(player->StartPaly()));
  EXPECT_TRUE(WaitForNotifiedAnswer(player.Get(), 0, 10000)) << "the end of the second file";
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
}

TEST(PlayerPlayback, ComponentReleasedWhilePlayingStopsTheFramesFirst) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  ASSERT_NO_FATAL_FAILURE(StartPlaying(player.Get(), L"video.wmv", nullptr));
  ASSERT_TRUE(WaitForFrames(3, 5000));
  player.Reset();  // the last reference: the player goes with the component
  const int framesAtRelease = g_frames.Count();
  Sleep(400);
  EXPECT_EQ(framesAtRelease, g_frames.Count()) << "no frame after the component is gone";
}

TEST(PlayerPlayback, AudioOnlyFilePlaysToTheEndWithoutFrames) {
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  NotifyWindow window;
  ASSERT_NO_FATAL_FAILURE(StartPlaying(player.Get(), L"audio.wma", window.hwnd));
  EXPECT_TRUE(WaitForNotifiedAnswer(player.Get(), 0, 10000));
  EXPECT_EQ(0, g_frames.Count());
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
}

TEST(PlayerPlayback, PicturesSmallerThan320x240ReportTheirOwnSize) {
  // A host reading 320 x 240 pixels from a 160 x 120 picture would run past its end.
  ComPtr<IPlayer> player = CreatePlayer();
  ASSERT_TRUE(player);
  NotifyWindow window;
  ASSERT_NO_FATAL_FAILURE(StartPlaying(player.Get(), L"small.wmv", window.hwnd, 160, 120, 160 * 120 * 3));
  ASSERT_TRUE(WaitForNotifiedAnswer(player.Get(), 0, 10000));
  EXPECT_EQ(15, g_frames.Count());
  EXPECT_EQ(0, g_frames.otherSize);
  EXPECT_EQ(0, g_frames.nullData);
  EXPECT_EQ(S_OK, player->ReleasePlayFile());
}

}  // namespace
}  // namespace dlltest
