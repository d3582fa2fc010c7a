#pragma once
// Stand-in for the platform's WM ASF Writer: writes what reaches its inputs, uncompressed, into
// an ASF file (asffile.h), and beside it a text record of the profile and of the samples
// received (format in testdevices.h).
#include <windows.h>
#include <strmif.h>

#include <memory>
#include <string>
#include <vector>

#include "asffile.h"
#include "asfwriter_iface.h"
#include "base.h"

namespace zvd {

enum class StreamKind { Video, Audio, Other };

struct ProfileStream {
  WORD number = 0;
  StreamKind kind = StreamKind::Other;
  GUID type = GUID_NULL;
  DWORD bitrate = 0;
  LONG width = 0, height = 0;
  std::wstring name, connection;
};

class AsfWriter;

class WriterInputPin final : public InputPin {
 public:
  WriterInputPin(AsfWriter* writer, const std::wstring& name, const ProfileStream& stream);

  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(int index, MediaType* mt) override;

  void ResetStats();
  // One "input" line of the record.
  std::string RecordLine(int index);
  bool AtEndOfStream();
  const ProfileStream& Stream() const { return m_stream; }
  // The stream of the ASF file that this input's samples go to (-1: none).
  // Adds this input's stream to the file as the connected type has it; -1 when the muxer
  // takes no such stream.
  int AddFileStream(zvasf::Muxer* muxer, unsigned number);

 private:
  AsfWriter* m_writer;
  ProfileStream m_stream;
  CriticalSection m_statsLock;
  ULONG m_samples = 0;
  ULONGLONG m_bytes = 0;
  bool m_haveTimes = false;
  REFERENCE_TIME m_first = 0, m_last = 0;
  bool m_haveFrame = false;
  unsigned m_firstFrame = 0, m_lastFrame = 0;
  bool m_inOrder = true;
  bool m_eos = false;
  int m_fileStream = -1;
};

class AsfWriter final : public BaseFilter, public IFileSinkFilter, public IConfigAsfWriter {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return BaseFilter::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return BaseFilter::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return BaseFilter::Release(); }
  // IFileSinkFilter
  STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;
  // IConfigAsfWriter
  STDMETHODIMP ConfigureFilterUsingProfileId(DWORD profileId) override;
  STDMETHODIMP GetCurrentProfileId(DWORD* profileId) override;
  STDMETHODIMP ConfigureFilterUsingProfileGuid(REFGUID profile) override;
  STDMETHODIMP GetCurrentProfileGuid(GUID* profile) override;
  STDMETHODIMP ConfigureFilterUsingProfile(IWMProfile* profile) override;
  STDMETHODIMP GetCurrentProfile(IWMProfile** profile) override;
  STDMETHODIMP SetIndexMode(BOOL indexFile) override;
  STDMETHODIMP GetIndexMode(BOOL* indexFile) override;

  int PinCount() override { return static_cast<int>(m_pins.size()); }
  BasePin* PinAt(int index) override { return m_pins[index].get(); }

  // Called by an input at its end of stream while running.
  void InputEnded();
  // Called by an input for each sample while the file is open.
  void WriteSample(int stream, REFERENCE_TIME start, REFERENCE_TIME stop, const BYTE* data, LONG length);

 protected:
  void* FindInterface(REFIID riid) override;
  HRESULT OnStopToPause() override;
  HRESULT OnRun() override;
  void OnStopped() override;

 private:
  AsfWriter();
  ~AsfWriter() override;
  HRESULT BuildPins(const std::vector<ProfileStream>& streams);
  HRESULT OpenFiles();
  void CloseFiles();
  void WriteRecord();
  bool AllInputsConnected();

  std::vector<std::unique_ptr<WriterInputPin>> m_pins;
  std::vector<std::unique_ptr<WriterInputPin>> m_retiredPins;
  std::vector<ProfileStream> m_streams;
  ComPtr<IWMProfile> m_profile;
  bool m_configured = false;
  BOOL m_index = TRUE;
  std::wstring m_fileName;
  HANDLE m_file = INVALID_HANDLE_VALUE;    // the ASF file
  HANDLE m_record = INVALID_HANDLE_VALUE;  // the text record beside it
  // The muxer, used from the inputs' streaming threads and from Stop: under its own lock.
  CriticalSection m_fileLock;
  std::unique_ptr<zvasf::Sink> m_sink;
  std::unique_ptr<zvasf::Muxer> m_muxer;
  bool m_completeSent = false;
};

// The text record's name: the file's name with ".record.txt" appended.
std::wstring RecordPath(const std::wstring& file);

// Reads the streams of a Windows Media profile.
HRESULT ReadProfileStreams(IWMProfile* profile, std::vector<ProfileStream>* streams);

}  // namespace zvd
