#include "capture/ListeningSession.h"

#include <algorithm>
#include <filesystem>

#include "analysis/SampleHistory.h"
#include "capture/PortAudioDevice.h"
#include "capture/SoundFileDevice.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kBufferSeconds = static_cast<double>(kLiveBufferLen) / kSampleRateHz;

}  // namespace

CListeningSession::CListeningSession(const std::vector<NotePattern>& patterns,
                                     ListeningListener listener, std::int32_t nFirst,
                                     std::int32_t nLast)
    : m_recognizer(patterns, nFirst, nLast),
      m_listener(std::move(listener)),
      m_recorder(kLiveBufferLen) {
  m_recognizer.OnNoteStart([this](const RecognizedNote& note) {
    if (m_listener.noteStarted) {
      const Clock::time_point anchor{Clock::duration(m_nAnchorNs.load())};
      m_listener.noteStarted(
          {note, anchor + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(note.dOnset / m_dSpeed))});
    }
  });
}

CListeningSession::~CListeningSession() { Stop(); }

bool CListeningSession::Start(const ListeningInput& input, std::string& error) {
  if (m_worker.joinable() || m_pDevice) {
    error = "this session has already listened";
    return false;
  }
  if (!input.file.empty()) {
    m_dSpeed = input.dSpeed > 0.0 ? input.dSpeed : 1.0;
    auto pFile = std::make_unique<CSoundFileDevice>(input.file, kRecognizerTailSamples, m_dSpeed,
                                                    kLiveBufferLen);
    if (!pFile->OpenFile(error)) {
      return false;
    }
    m_pFile = pFile.get();
    m_pDevice = std::move(pFile);
    m_inputName = std::filesystem::path(input.file).filename().string();
  } else {
    m_pDevice = std::make_unique<CPortAudioDevice>(input.device);
    WaveInCaps caps;
    m_inputName = m_pDevice->GetDevCaps(caps) == kWaveOk && !caps.name.empty() ? caps.name
                  : input.device.empty() ? "the default input device"
                                         : "device " + input.device;
  }
  m_recorder.SetDevice(m_pDevice.get());
  // The recorder shows its own message when the device is missing or refuses to start.
  if (m_recorder.Start() != 0 || m_pDevice->GetNumDevs() == 0) {
    Stop();
    error.clear();
    return false;
  }
  m_bRunning = true;
  m_worker = std::thread(&CListeningSession::Work, this);
  return true;
}

void CListeningSession::Stop() {
  if (m_worker.joinable()) {
    m_bStop = true;
    m_worker.join();
  }
  m_bRunning = false;
  m_recorder.Stop();
  m_recorder.SetDevice(nullptr);
}

std::string CListeningSession::ReadError() const {
  return m_pFile != nullptr ? m_pFile->ReadError() : std::string();
}

double CListeningSession::Position() const {
  const double dFed = static_cast<double>(m_nFed.load()) * kBufferSeconds;
  const std::int64_t nAnchorNs = m_nAnchorNs.load();
  if (!m_bRunning.load() || nAnchorNs == 0) {
    return dFed;
  }
  const std::chrono::duration<double> since =
      Clock::now() - Clock::time_point{Clock::duration(nAnchorNs)};
  return std::clamp(since.count() * m_dSpeed, 0.0, dFed + kBufferSeconds);
}

void CListeningSession::Work() {
  std::vector<std::int16_t> buffer;
  bool bInputEnded = false;
  while (!m_bStop.load()) {
    // A file ends with its last buffer (the device goes on delivering silence after it).
    if (m_pFile != nullptr && m_pFile->Finished() && m_nFed.load() >= m_pFile->BuffersPushed()) {
      bInputEnded = true;
      break;
    }
    if (!m_recorder.TakeBuffer(buffer, std::chrono::milliseconds(20))) {
      continue;
    }
    if (m_nAnchorNs.load() == 0) {
      // The first buffer's samples were captured during the buffer's length before it came.
      const auto anchor =
          Clock::now() - std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(kBufferSeconds / m_dSpeed));
      m_nAnchorNs = anchor.time_since_epoch().count();
    }
    if (m_listener.buffer) {
      m_listener.buffer(buffer.data(), buffer.size());
    }
    m_recognizer.Feed(buffer.data(), buffer.size());
    ++m_nFed;
    for (const RecognizedNote& note : m_recognizer.TakeNotes()) {
      if (m_listener.noteEnded) {
        m_listener.noteEnded(note);
      }
    }
  }
  m_recognizer.Finish();
  for (const RecognizedNote& note : m_recognizer.TakeNotes()) {
    if (m_listener.noteEnded) {
      m_listener.noteEnded(note);
    }
  }
  if (bInputEnded && m_listener.inputEnded) {
    m_listener.inputEnded();
  }
}
