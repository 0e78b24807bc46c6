#include "runtime/threading/multi_read_exclusive_write_sync_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "runtime/exception.h"
#include "runtime/threading/function_thread_win.h"
#include "runtime/threading/thread_probe_test_support_win.h"

// Counts every allocation of this test program, to show that the lock paths
// make none.
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// The replacements pair malloc with free themselves; GCC, seeing a free
// inlined where it expected the library's delete, would warn of a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
#pragma GCC diagnostic pop

namespace vellum {
namespace {

using Threads = std::vector<std::unique_ptr<FunctionThread>>;

bool WaitUntil(const std::atomic<int>& value, int expected, DWORD milliseconds = 5000) {
  const DWORD start = GetTickCount();
  while (value != expected) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(1);
  }
  return true;
}

void JoinAll(Threads& threads) {
  for (auto& thread : threads) {
    DWORD exit_code = 0;
    ASSERT_TRUE(thread->WaitFor(10000, exit_code)) << "a thread is stuck: deadlock";
  }
}

TEST(MultiReadExclusiveWriteSync, ReadersHoldTheLockTogether) {
  MultiReadExclusiveWriteSync sync;
  constexpr int kReaders = 6;
  std::atomic<int> inside{0};
  std::atomic<int> most_inside{0};
  Threads readers;
  for (int i = 0; i < kReaders; ++i) {
    readers.push_back(StartThread<FunctionThread>([&](FunctionThread&) {
      ScopedReadLock read(sync);
      const int now = ++inside;
      for (int seen = most_inside; now > seen && !most_inside.compare_exchange_weak(seen, now);) {
      }
      // Stay until every reader is in, which only shared locking allows.
      WaitUntil(most_inside, kReaders);
      --inside;
    }));
  }
  JoinAll(readers);
  EXPECT_EQ(most_inside, kReaders);
}

TEST(MultiReadExclusiveWriteSync, AWriterIsAloneAndReadersSeeWholeWrites) {
  MultiReadExclusiveWriteSync sync;
  // Two halves that a writer changes one after the other; a reader that ever
  // sees them differ has read in the middle of a write.
  volatile int first_half = 0;
  volatile int second_half = 0;
  std::atomic<int> writers_inside{0};
  std::atomic<int> readers_inside{0};
  std::atomic<int> violations{0};
  std::atomic<int> reads{0};
  Threads threads;
  for (int w = 0; w < 2; ++w) {
    threads.push_back(StartThread<FunctionThread>([&](FunctionThread&) {
      for (int i = 0; i < 300; ++i) {
        ScopedWriteLock write(sync);
        if (++writers_inside != 1 || readers_inside != 0) ++violations;
        first_half = first_half + 1;
        Sleep(0);
        second_half = second_half + 1;
        --writers_inside;
      }
    }));
  }
  for (int r = 0; r < 4; ++r) {
    threads.push_back(StartThread<FunctionThread>([&](FunctionThread&) {
      for (int i = 0; i < 600; ++i) {
        ScopedReadLock read(sync);
        ++readers_inside;
        if (writers_inside != 0 || first_half != second_half) ++violations;
        ++reads;
        --readers_inside;
      }
    }));
  }
  JoinAll(threads);
  EXPECT_EQ(violations, 0);
  EXPECT_EQ(first_half, 600);
  EXPECT_EQ(second_half, 600);
  EXPECT_EQ(reads, 2400);
}

TEST(MultiReadExclusiveWriteSync, OneThreadMayNestReadsAndWritesInAnyOrder) {
  MultiReadExclusiveWriteSync sync;
  sync.BeginWrite();
  EXPECT_TRUE(sync.BeginWrite()) << "a writer re-enters";
  sync.BeginRead();  // reading while writing
  sync.EndRead();
  sync.EndWrite();
  EXPECT_EQ(sync.WriterThreadId(), GetCurrentThreadId()) << "still the writer after the inner EndWrite";
  sync.EndWrite();
  EXPECT_EQ(sync.WriterThreadId(), 0u);

  sync.BeginRead();
  sync.BeginRead();
  EXPECT_TRUE(sync.BeginWrite()) << "a lone reader may become the writer";
  sync.EndWrite();
  sync.EndRead();
  sync.EndRead();

  EXPECT_THROW(sync.EndRead(), EInvalidOperation);
  EXPECT_THROW(sync.EndWrite(), EInvalidOperation);
}

TEST(MultiReadExclusiveWriteSync, WaitingWritersHoldBackNewReadersButNotNestedOnes) {
  MultiReadExclusiveWriteSync sync;
  std::atomic<int> stage{0};
  sync.BeginRead();  // this thread reads first
  auto writer = StartThread<FunctionThread>([&](FunctionThread&) {
    stage = 1;
    ScopedWriteLock write(sync);
    stage = 2;
  });
  // Not ASSERT below: leaving while this thread reads would leave the others
  // blocked for good.
  EXPECT_TRUE(testing::YieldUntil([&] { return sync.WaitingWriters() == 1; }))
      << "the writer waits for this thread's read";
  std::atomic<int> late_reader_in{0};
  auto late_reader = StartThread<FunctionThread>([&](FunctionThread&) {
    ScopedReadLock read(sync);
    late_reader_in = stage == 2 ? 2 : 1;
  });
  EXPECT_TRUE(testing::YieldUntil([&] { return sync.WaitingReaders() == 1; }))
      << "the late reader went in without waiting";
  EXPECT_EQ(late_reader_in, 0) << "a new reader queues behind the waiting writer";
  sync.BeginRead();  // nested: must not deadlock behind the writer
  sync.EndRead();
  EXPECT_EQ(stage, 1);
  sync.EndRead();
  EXPECT_EQ(writer->WaitFor(), 0u);
  late_reader->WaitFor();
  EXPECT_EQ(late_reader_in, 2) << "the late reader came in after the write";
}

TEST(MultiReadExclusiveWriteSync, ReadersAskingToWriteTogetherDoNotDeadlock) {
  MultiReadExclusiveWriteSync sync;
  std::atomic<int> reading{0};
  std::atomic<int> undisturbed{0};
  Threads threads;
  for (int i = 0; i < 2; ++i) {
    threads.push_back(StartThread<FunctionThread>([&](FunctionThread&) {
      sync.BeginRead();
      ++reading;
      WaitUntil(reading, 2);  // both hold a read lock now
      if (sync.BeginWrite()) ++undisturbed;
      sync.EndWrite();
      sync.EndRead();
    }));
  }
  JoinAll(threads);
  EXPECT_EQ(undisturbed, 1) << "the second upgrader learns that the first one wrote in between";
}

TEST(MultiReadExclusiveWriteSync, LockPathsDoNotAllocateEvenWhenTheyWait) {
  {
    const long before = g_allocations;
    const std::string probe(100 + GetTickCount() % 7, 'x');
    ASSERT_GT(g_allocations - before, 0) << "the counter sees allocations (" << probe.size() << ")";
  }
  MultiReadExclusiveWriteSync sync;
  std::atomic<int> stage{0};
  std::atomic<long> allocations_in_reader{-1};
  auto reader = StartThread<FunctionThread>([&](FunctionThread&) {
    WaitUntil(stage, 1);
    const long before = g_allocations;
    sync.BeginRead();  // waits for the writer below
    sync.BeginRead();
    sync.EndRead();
    sync.EndRead();
    allocations_in_reader = g_allocations - before;
  });

  const long before = g_allocations;
  sync.BeginWrite();
  sync.BeginWrite();
  sync.BeginRead();
  sync.EndRead();
  sync.EndWrite();
  stage = 1;
  EXPECT_TRUE(testing::YieldUntil([&] { return sync.WaitingReaders() == 1; })) << "the reader never waited";
  sync.EndWrite();
  const long allocations_in_writer = g_allocations - before;
  reader->WaitFor();
  EXPECT_EQ(allocations_in_reader, 0);
  EXPECT_EQ(allocations_in_writer, 0);
}

}  // namespace
}  // namespace vellum
