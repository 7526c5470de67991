// A list's decoded addresses say who may connect: like its text, they must
// be wiped before their memory is given back. Every block freed while the
// test watches is searched for a marker address that the list holds.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "crypto/key_versions.h"
#include "fs/file_update.h"
#include "store/address_set.h"
#include "store/list_store.h"
#include "support/test_support.h"

namespace {

constexpr std::uint64_t kMarker = 0x3C5AD17E9B42ULL;
std::atomic<bool> watching{false};
std::atomic<int> found{0};

void search(void* block) {
  if (block == nullptr || !watching.load()) {
    return;
  }
  const std::size_t size = malloc_usable_size(block);
  const auto* words = static_cast<const std::uint64_t*>(block);
  for (std::size_t i = 0; i < size / sizeof(std::uint64_t); ++i) {
    if (words[i] == kMarker) {
      ++found;
      return;
    }
  }
}

}  // namespace

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
  for (const std::size_t size : {std::size_t{3}, std::size_t{20000}}) {
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

}  // namespace
