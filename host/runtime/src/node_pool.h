// node_pool.h: an allocator for the nodes of the host's hash tables.
//
// Private to libfbsdk. The tables that note every component, model, list
// link and model reference hold one node per entry; binding a large stage
// adds tens of thousands at once, and a heap block each cost a fifth of the
// bind. A pool carves nodes from large chunks and recycles the freed ones
// through a free list per size. It is not thread-safe: one pool serves
// tables that one lock guards. Its chunks live as long as the pool, and the
// tables that use one live as long as the process.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace fbhost_internal {

class NodePool {
 public:
  static constexpr std::size_t kMaxBlock = 64;

  NodePool() = default;
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;
  ~NodePool() {
    for (void* chunk : mChunks) ::operator delete(chunk);
  }

  // size: at most kMaxBlock.
  void* Take(std::size_t size) {
    Blocks& blocks = mBlocks[Slot(size)];
    if (blocks.free != nullptr) {
      FreeBlock* block = blocks.free;
      blocks.free = block->next;
      return block;
    }
    const std::size_t step = (Slot(size) + 1) * kGrain;
    if (blocks.next == nullptr || blocks.end - blocks.next < static_cast<std::ptrdiff_t>(step)) {
      mChunks.reserve(mChunks.size() + 1);
      blocks.next = static_cast<char*>(::operator new(kChunkBytes));
      blocks.end = blocks.next + kChunkBytes;
      mChunks.push_back(blocks.next);
    }
    void* block = blocks.next;
    blocks.next += step;
    return block;
  }

  void Give(void* block, std::size_t size) noexcept {
    Blocks& blocks = mBlocks[Slot(size)];
    auto* freed = static_cast<FreeBlock*>(block);
    freed->next = blocks.free;
    blocks.free = freed;
  }

 private:
  static constexpr std::size_t kGrain = 8;
  static constexpr std::size_t kChunkBytes = std::size_t{32} * 1024;

  struct FreeBlock {
    FreeBlock* next;
  };
  struct Blocks {
    FreeBlock* free = nullptr;
    char* next = nullptr;
    char* end = nullptr;
  };
  static std::size_t Slot(std::size_t size) noexcept { return (size + kGrain - 1) / kGrain - 1; }

  std::array<Blocks, kMaxBlock / kGrain> mBlocks{};
  std::vector<void*> mChunks;
};

// Single nodes come from the pool; arrays (a table's buckets) from the heap.
template <typename T>
class PoolAllocator {
 public:
  using value_type = T;

  explicit PoolAllocator(NodePool& pool) noexcept : mPool(&pool) {}
  template <typename U>
  PoolAllocator(const PoolAllocator<U>& other) noexcept  // NOLINT(google-explicit-constructor)
      : mPool(other.Pool()) {}

  T* allocate(std::size_t n) {
    if (Pooled(n)) return static_cast<T*>(mPool->Take(kSize));
    const std::size_t bytes = n * kSize;
    return static_cast<T*>(::operator new(bytes));
  }
  void deallocate(T* block, std::size_t n) noexcept {
    if (Pooled(n)) {
      mPool->Give(block, kSize);
    } else {
      ::operator delete(block);
    }
  }

  NodePool* Pool() const noexcept { return mPool; }
  friend bool operator==(const PoolAllocator& a, const PoolAllocator& b) noexcept {
    return a.mPool == b.mPool;
  }
  friend bool operator!=(const PoolAllocator& a, const PoolAllocator& b) noexcept {
    return !(a == b);
  }

 private:
  // The size of one T, whatever T is (a bucket array's T is a pointer).
  static constexpr std::size_t kSize = sizeof(T);  // NOLINT(bugprone-sizeof-expression)
  static bool Pooled(std::size_t n) noexcept {
    return n == 1 && kSize <= NodePool::kMaxBlock && alignof(T) <= 8;
  }
  NodePool* mPool;
};

template <typename Key>
using PooledSet = std::unordered_set<Key, std::hash<Key>, std::equal_to<Key>, PoolAllocator<Key>>;
template <typename Key, typename Value>
using PooledMultimap = std::unordered_multimap<Key, Value, std::hash<Key>, std::equal_to<Key>,
                                               PoolAllocator<std::pair<const Key, Value>>>;

}  // namespace fbhost_internal
