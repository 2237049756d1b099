// The messages waiting to be shown to the user, one box at a time. Any thread may post (the
// capture thread too, without waiting); the user-interface thread shows them in order. A
// message posted again while its box is open or waiting is only counted, so a failure that
// repeats on every buffer does not stack boxes.
#pragma once

#include <deque>
#include <mutex>
#include <string>

class CMessageQueue {
 public:
  // Any thread. Adds `text`, or counts it when the same text is already shown or waiting.
  // True when nothing was shown or waiting before: the caller then has the user-interface
  // thread start showing.
  bool Post(const std::string& text);

  // User-interface thread. The message whose box is to be shown (it stays first until
  // Pop); false when none waits.
  bool Front(std::string& text) const;

  // User-interface thread, when the first message's box has closed: removes it and returns how
  // many times it was posted again meanwhile.
  int Pop();

 private:
  struct CEntry {
    std::string text;
    int nRepeats = 0;
  };

  mutable std::mutex m_mutex;
  std::deque<CEntry> m_entries;  // guarded by m_mutex; first: the box shown now
};
