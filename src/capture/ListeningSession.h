// One spell of listening, for the recognition window and sonavel-recognize: a queue recorder on
// a sound input (the sound card or a sound file played at its own pace) and a recogniser fed on
// a worker thread of its own, so that the analysis never waits for painting or printing and
// they never wait for the analysis. The worker reports through the listener's callbacks (the
// window forwards them to its event queue). Nothing of the training run is touched.
//
// Start and Stop are called on one thread (the user-interface thread); the callbacks run on
// the worker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/QueueRecorder.h"
#include "recognition/Recognizer.h"

class CSoundFileDevice;
class CWaveInDevice;

// Where the sound comes from: a sound file when `file` is set, else the input device `device`
// (an index or part of a name; empty: the default one).
struct ListeningInput {
  std::string file;
  std::string device;
  double dSpeed = 1.0;  // a file played this many times faster than real time (for tests)
};

// A note as soon as it is named, and the moment its onset reached the input (taken from the
// arrival of the first buffer), from which the caller measures how late it shows the note.
struct HeardNote {
  RecognizedNote note;  // times in seconds of this session's sound; offset not yet known
  std::chrono::steady_clock::time_point heardAt;
};

// Called on the worker thread: they must not block, and must not touch windows.
struct ListeningListener {
  std::function<void(const HeardNote&)> noteStarted;
  std::function<void(const RecognizedNote&)> noteEnded;  // the same note with its offset
  std::function<void()> inputEnded;                      // a sound file has been played to its end
  // Every buffer, before the recogniser sees it.
  std::function<void(const std::int16_t*, std::size_t)> buffer;
};

class CListeningSession {
 public:
  // Notes nFirst ... nLast of `patterns` are the candidates.
  CListeningSession(const std::vector<NotePattern>& patterns, ListeningListener listener,
                    std::int32_t nFirst = 0, std::int32_t nLast = kNoteCount - 1);
  ~CListeningSession();
  CListeningSession(const CListeningSession&) = delete;
  CListeningSession& operator=(const CListeningSession&) = delete;

  // Opens the input and starts listening. False when it cannot: `error` then says why, or is
  // empty when the recorder has already shown its message box ("No Sound Device", ...).
  bool Start(const ListeningInput& input, std::string& error);

  // Ends listening: the worker finishes (the sounding note ends and is reported), capture
  // stops. Safe to call again, and after a failed Start.
  void Stop();

  // The input as the status bar names it: the file's name, or the device's.
  const std::string& InputName() const { return m_inputName; }

  // Non-empty when reading a sound file failed.
  std::string ReadError() const;

  // Buffers the recorder had to drop because the worker fell behind (a very busy machine).
  std::uint64_t Dropped() const { return m_recorder.Dropped(); }

  // Any thread: seconds of sound heard so far, advancing smoothly between buffers while
  // listening.
  double Position() const;

 private:
  void Work();  // the worker thread's body

  CRecognizer m_recognizer;  // the worker's alone while it runs
  ListeningListener m_listener;
  std::unique_ptr<CWaveInDevice> m_pDevice;
  CSoundFileDevice* m_pFile = nullptr;  // m_pDevice, when it is a sound file
  CQueueRecorder m_recorder;
  std::thread m_worker;
  std::atomic<bool> m_bStop{false};
  std::atomic<bool> m_bRunning{false};
  std::atomic<std::uint64_t> m_nFed{0};      // buffers fed to the recogniser
  std::atomic<std::int64_t> m_nAnchorNs{0};  // steady clock when sample 0 arrived; 0: not yet
  std::string m_inputName;
  double m_dSpeed = 1.0;  // of a file, set before the worker starts
};
