// One message box at a time: repeats of a shown or waiting message are counted, not stacked.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ui/MessageQueue.h"

namespace {

TEST(MessageQueueTest, RepeatsOfAShownOrWaitingMessageAreCountedNotQueued) {
  CMessageQueue queue;
  std::string text;
  EXPECT_TRUE(queue.Post("Cannot Add Buffer !"));   // nothing shown: start showing
  EXPECT_FALSE(queue.Post("Cannot Add Buffer !"));  // its box is open
  EXPECT_FALSE(queue.Post("Cannot Start Wave In !"));
  EXPECT_FALSE(queue.Post("Cannot Add Buffer !"));
  EXPECT_FALSE(queue.Post("Cannot Start Wave In !"));  // waiting
  ASSERT_TRUE(queue.Front(text));
  EXPECT_EQ(text, "Cannot Add Buffer !");
  EXPECT_EQ(queue.Pop(), 2);
  ASSERT_TRUE(queue.Front(text));
  EXPECT_EQ(text, "Cannot Start Wave In !");
  EXPECT_EQ(queue.Pop(), 1);
  EXPECT_FALSE(queue.Front(text));
  EXPECT_TRUE(queue.Post("Cannot Add Buffer !"));  // after its box closed: a new box
}

// The capture thread posts while the user-interface thread shows: every post is one box or one
// counted repeat, and a post that finds nothing shown says so.
TEST(MessageQueueTest, PostsFromAnotherThreadAreEachShownOrCounted) {
  constexpr int kPosts = 2000;
  CMessageQueue queue;
  int nStarts = 0;
  int nSeen = 0;
  std::thread capture([&] {
    for (int k = 0; k < kPosts; ++k) {
      nStarts += queue.Post("Cannot Add Buffer !") ? 1 : 0;
    }
  });
  std::string text;
  while (nSeen < kPosts) {
    if (queue.Front(text)) {
      nSeen += 1 + queue.Pop();
    }
  }
  capture.join();
  EXPECT_EQ(nSeen, kPosts);
  EXPECT_GE(nStarts, 1);
  EXPECT_FALSE(queue.Front(text));
}

}  // namespace
