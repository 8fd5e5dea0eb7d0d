// Scanning is the hot path of every import: once a record has seen a line of a given
// shape, scanning further lines reuses its cell and value storage and allocates nothing.
// The global allocation functions of this test program count calls while a scan runs.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "record/Znsrec.h"
#include "RecordTestSupport.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};

void* Allocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

int AllocationsOfScan(TZnFFSRecord& rec, const std::string& line) {
  allocations = 0;
  counting = true;
  rec.ScanString(line, '\t');
  counting = false;
  return allocations;
}

TEST(ScanAllocation, LaterLinesReuseCellsAndValues) {
  platform::ScopedFormatSettings fs(recordtest::CommaSettings());
  TZnFFSRecord rec;
  recordtest::AddImportLayout(rec);
  const std::string first =
      "Цистерна запаса топлива №12 ЛБ\t\t45-52\tПрБ\t2\t123,45\t0,98\t120,97\t0,85\t1,0007\t"
      "1,2\t0,5\t0,7\t-12,345\t3,5\t4,25\t1,5\t2,5\tкомментарий к строке\t12\t-3";
  const std::string header = "Цистерна №3";
  const std::string second =
      "Цистерна запаса топлива №13 ПБ\t\t52-60\tЛБ\t3\t98,5\t0.97\t95,1\t0,86\t1,0008\t"
      "1,1\t0,4\t0,6\t12,345\t-3,5\t4,5\t1,25\t2,75\tещё один комментарий\t11\t4";
  rec.ScanString(first, '\t');
  ASSERT_EQ(rec.ScanCount, 20);

  EXPECT_EQ(AllocationsOfScan(rec, header), 0);
  EXPECT_EQ(rec.ScanCount, 1);
  EXPECT_EQ(AllocationsOfScan(rec, second), 0);
  EXPECT_EQ(rec.ScanCount, 20);
  EXPECT_EQ(rec.ByName("Designation")->Value, Variant::String("Цистерна запаса топлива №13 ПБ"));
  EXPECT_EQ(rec.ByName("Fperm")->Value, Variant::Double(0.97));
  EXPECT_EQ(AllocationsOfScan(rec, "\t\t"), 0);

  // A failure sink that is listening costs no allocation on clean lines, nor once it
  // has room for the failures of a line.
  std::vector<znsrec::ScanFailure> failures;
  failures.reserve(4);
  rec.failureSink = &failures;
  EXPECT_EQ(AllocationsOfScan(rec, second), 0);
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(AllocationsOfScan(rec, "Цистерна\t\t45-52\tПрБ\t2\t12,5 м3"), 0);
  EXPECT_EQ(failures.size(), 1u);
}

}  // namespace
