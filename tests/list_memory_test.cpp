// A list's decoded addresses say who may connect: like its text, they must
// be wiped before their memory is given back. Every block freed while the
// test watches is searched for a marker address that the list holds.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/large_memory.h"
#include "base/secret_bytes.h"
#include "crypto/key_versions.h"
#include "fs/file_update.h"
#include "store/address_set.h"
#include "store/inventory.h"
#include "store/list_store.h"
#include "support/test_support.h"

namespace {

constexpr std::uint64_t kMarker = 0x3C5AD17E9B42ULL;
std::atomic<bool> watching{false};
std::atomic<int> found{0};

void search(const void* block, std::size_t size) {
  if (block == nullptr || !watching.load()) {
    return;
  }
  const auto* words = static_cast<const std::uint64_t*>(block);
  for (std::size_t i = 0; i < size / sizeof(std::uint64_t); ++i) {
    if (words[i] == kMarker) {
      ++found;
      return;
    }
  }
}

void search(void* block) {
  if (block != nullptr) {
    search(block, malloc_usable_size(block));
  }
}

}  // namespace

// Large buffers are mapped on their own and given back with munmap: the
// program's own definition is the one the library calls.
extern "C" int munmap(void* block, std::size_t size) noexcept {
  search(block, size);
  return static_cast<int>(::syscall(SYS_munmap, block, size));
}

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  search(block);
  std::free(block);
}
void operator delete(void* block, std::size_t /*size*/) noexcept {
  search(block);
  std::free(block);
}

namespace {

using adrvet_list::Addresses;

// Counts the freed blocks that held the marker while `work` ran.
template <typename Work>
int blocks_left_with_marker(Work work) {
  found = 0;
  watching = true;
  work();
  watching = false;
  return found.load();
}

TEST(ListMemory, TheSearchFindsAnUnwipedBlock) {
  EXPECT_EQ(blocks_left_with_marker([] {
              std::vector<std::uint64_t> plain(100, 1);
              plain[50] = kMarker;
            }),
            1);
}

// Small lists (sorted by comparison) and large ones (by the radix sort, with
// its scratch), through load, sort, merge and difference.
TEST(ListMemory, DecodedAddressesAreWipedFromLoadToDifference) {
  // 3 and 20,000 from the heap; 1,000,000 (8 MB) mapped on its own.
  for (const std::size_t size : {std::size_t{3}, std::size_t{20000}, std::size_t{1000000}}) {
    adrvet_test::TempDir dir;
    const std::string path = dir.file("engine.dat");
    const auto key = orbitforge::util::key_for_version(1);
    Addresses values;
    for (std::size_t i = 0; i < size; ++i) {
      values.push_back(0x001122000000ULL + i * 7919);
    }
    values.push_back(kMarker);
    {
      orbitforge::util::FileUpdate update;
      ASSERT_TRUE(adrvet_list::begin_update(path, {}, update));
      adrvet_list::sort_unique(values);
      ASSERT_TRUE(adrvet_list::write_list(update, path, values, key));
    }
    const int left = blocks_left_with_marker([&] {
      adrvet_list::LoadedList list = adrvet_list::load_list(path, key);
      ASSERT_TRUE(list.usable()) << list.problem;
      std::reverse(list.values.begin(), list.values.end());
      adrvet_list::sort_unique(list.values);
      const Addresses more = adrvet_list::merged(list.values, Addresses{1, 2, 3});
      const Addresses fewer = adrvet_list::difference(more, Addresses{2});
      EXPECT_TRUE(std::binary_search(fewer.begin(), fewer.end(), kMarker));
    });
    EXPECT_EQ(left, 0) << size << " addresses";
  }
}

// The inventory's entries hold addresses too: read back from its payload
// and given up, none of them is left in freed memory.
TEST(ListMemory, InventoryEntriesAreWiped) {
  orbitforge::util::SecretBytes payload;
  {
    adrvet_list::Inventory written;
    const std::uint32_t origin = written.add_origin(1798761599, "root");
    for (const std::uint64_t address : {std::uint64_t{0x0011223344ULL}, kMarker}) {
      written.entries.push_back(
          {address, adrvet_list::Inventory::kNever, origin, written.add_label("printer")});
    }
    payload = written.serialize();
  }
  const int left = blocks_left_with_marker([&] {
    std::string problem;
    const std::optional<adrvet_list::Inventory> read =
        adrvet_list::Inventory::parse(payload, problem);
    ASSERT_TRUE(read.has_value()) << problem;
    EXPECT_NE(read->find(kMarker), nullptr);
  });
  EXPECT_EQ(left, 0);
}

TEST(ListMemory, TheSearchFindsAnUnwipedMapping) {
  EXPECT_EQ(blocks_left_with_marker([] {
              constexpr std::size_t kBytes = std::size_t{1} << 20U;
              void* block = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
              ASSERT_NE(block, MAP_FAILED);
              static_cast<std::uint64_t*>(block)[12345] = kMarker;
              ::munmap(block, kBytes);
            }),
            1);
}

// Only the pages written are wiped: markers in the first page, past the
// first 64 MiB looked at, and in the last page of an odd size.
TEST(ListMemory, LargeBuffersAreWipedWhereverWritten) {
  constexpr std::size_t kBytes = (std::size_t{100} << 20U) + 24;
  const int left = blocks_left_with_marker([] {
    void* block = orbitforge::util::allocate_large(kBytes);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (std::size_t{2} << 20U), 0U);
    auto* words = static_cast<std::uint64_t*>(block);
    for (const std::size_t at : {std::size_t{0}, (std::size_t{70} << 20U) / 8, kBytes / 8 - 1}) {
      words[at] = kMarker;
    }
    orbitforge::util::release_large(block, kBytes);
  });
  EXPECT_EQ(left, 0);
}

// Sizes on both sides of the threshold and off huge-page multiples: the
// memory is zeroed, aligned for its type, and a vector keeps its contents
// as it grows from the heap into a mapping and shrinks back.
TEST(ListMemory, LargeBuffersHoldWhatIsWrittenAcrossTheThreshold) {
  constexpr std::size_t kThreshold = orbitforge::util::kLargeMemoryBytes;
  for (const std::size_t bytes :
       {kThreshold - 1, kThreshold, kThreshold + 1, 3 * kThreshold + 8, std::size_t{40} << 20U}) {
    orbitforge::util::SecretBytes buffer(bytes);
    ASSERT_EQ(buffer.size(), bytes);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % alignof(std::max_align_t), 0U);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](unsigned char c) { return c == 0; }))
        << bytes;
    buffer.front() = 1;
    buffer.back() = 2;
    EXPECT_EQ(buffer.front() + buffer.back(), 3) << bytes;
  }
  Addresses grown;
  for (std::uint64_t i = 0; i < 3 * kThreshold / sizeof(std::uint64_t); ++i) {
    grown.push_back(i * 0x9E3779B97F4A7C15ULL);
  }
  grown.resize(100);
  grown.shrink_to_fit();
  for (std::uint64_t i = 0; i < grown.size(); ++i) {
    ASSERT_EQ(grown[i], i * 0x9E3779B97F4A7C15ULL) << i;
  }
}

TEST(ListMemory, AnImpossibleSizeIsRefusedNotWrapped) {
  orbitforge::util::WipingAllocator<std::uint64_t> allocator;
  EXPECT_THROW((void)allocator.allocate(std::numeric_limits<std::size_t>::max() / 4),
               std::bad_array_new_length);
  EXPECT_THROW((void)orbitforge::util::allocate_large(std::numeric_limits<std::size_t>::max()),
               std::bad_alloc);
}

}  // namespace
