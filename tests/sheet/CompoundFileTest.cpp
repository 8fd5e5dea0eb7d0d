// The compound file container: streams read back byte for byte whatever the sector size,
// layout or allocation table size, and every kind of structural damage ends in a
// WorkbookError that names it.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sheet/CompoundFile.h"
#include "sheet/Workbook.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using sheet::cfb::CompoundFile;

constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  return b;
}

// A compound file built in memory, with where its parts went so that tests can damage it.
struct Built {
  Bytes bytes;
  std::uint32_t shift = 9;
  std::vector<std::uint32_t> fatSectors;
  std::vector<std::uint32_t> difatSectors;
  std::uint32_t dirStart = 0;
  std::map<std::string, std::uint32_t> start;  // first (mini) sector of each stream
  std::map<std::string, std::size_t> entry;    // directory index of each entry

  std::size_t SectorOffset(std::uint32_t sector) const {
    return (std::size_t{sector} + 1) << shift;
  }
  std::size_t EntryOffset(const std::string& name) const {
    return SectorOffset(dirStart) + entry.at(name) * 128;
  }
  void SetFat(std::uint32_t sector, std::uint32_t next) {
    std::uint32_t per = (1u << shift) / 4;
    Put32(bytes, SectorOffset(fatSectors[sector / per]) + (sector % per) * 4, next);
  }
};

class Builder {
 public:
  explicit Builder(std::uint32_t shift = 9) : shift_(shift) {}

  Builder& Stream(const std::string& name, Bytes data) {
    streams_.push_back({name, std::move(data), ""});
    return *this;
  }
  // A stream inside a storage of the root, such as an embedded object's own workbook.
  Builder& Nested(const std::string& storage, const std::string& name, Bytes data) {
    streams_.push_back({name, std::move(data), storage});
    return *this;
  }
  // Regular streams take turns sector by sector, so their chains are not contiguous.
  Builder& Fragmented() {
    fragmented_ = true;
    return *this;
  }
  // At least this many allocation table sectors (more than 109 need index sectors).
  Builder& FatSectors(std::uint32_t n) {
    minFat_ = n;
    return *this;
  }

  Built Build() const {
    const std::uint32_t ss = 1u << shift_;
    const std::uint32_t per = ss / 4;
    std::vector<Bytes> sectors;
    std::vector<std::vector<std::uint32_t>> chains;
    Built out;
    out.shift = shift_;

    Bytes mini;
    std::vector<std::uint32_t> miniFat;
    std::vector<std::size_t> regular;
    for (std::size_t i = 0; i < streams_.size(); ++i) {
      const Bytes& data = streams_[i].data;
      if (data.size() >= 4096) {
        regular.push_back(i);
        continue;
      }
      std::uint32_t first = static_cast<std::uint32_t>(mini.size() / 64);
      std::uint32_t count = static_cast<std::uint32_t>((data.size() + 63) / 64);
      mini.insert(mini.end(), data.begin(), data.end());
      mini.resize(std::size_t{first + count} * 64, 0);
      for (std::uint32_t k = 0; k < count; ++k)
        miniFat.push_back(k + 1 < count ? first + k + 1 : kEnd);
      out.start[streams_[i].name] = count ? first : kEnd;
    }

    auto place = [&](const Bytes& data) {
      std::vector<std::uint32_t> chain;
      for (std::size_t at = 0; at < data.size(); at += ss) {
        Bytes sector(ss, 0);
        std::copy(data.begin() + at, data.begin() + std::min<std::size_t>(at + ss, data.size()),
                  sector.begin());
        chain.push_back(static_cast<std::uint32_t>(sectors.size()));
        sectors.push_back(std::move(sector));
      }
      chains.push_back(chain);
      return chain.empty() ? kEnd : chain.front();
    };

    if (fragmented_) {
      std::vector<std::vector<std::uint32_t>> turns(regular.size());
      bool more = true;
      for (std::size_t round = 0; more; ++round) {
        more = false;
        for (std::size_t r = 0; r < regular.size(); ++r) {
          const Bytes& data = streams_[regular[r]].data;
          std::size_t at = round * ss;
          if (at >= data.size()) continue;
          more = true;
          Bytes sector(ss, 0);
          std::copy(data.begin() + at, data.begin() + std::min<std::size_t>(at + ss, data.size()),
                    sector.begin());
          turns[r].push_back(static_cast<std::uint32_t>(sectors.size()));
          sectors.push_back(std::move(sector));
        }
      }
      for (std::size_t r = 0; r < regular.size(); ++r) {
        chains.push_back(turns[r]);
        out.start[streams_[regular[r]].name] = turns[r].front();
      }
    } else {
      for (std::size_t r : regular) out.start[streams_[r].name] = place(streams_[r].data);
    }
    std::uint32_t rootStart = place(mini);
    Bytes miniFatBytes(miniFat.size() * 4);
    for (std::size_t i = 0; i < miniFat.size(); ++i) Put32(miniFatBytes, i * 4, miniFat[i]);
    miniFatBytes.resize((miniFatBytes.size() + ss - 1) / ss * ss, 0xFF);
    std::uint32_t miniFatStart = place(miniFatBytes);

    // Directory: the root, the root's streams and storages as a chain of right siblings,
    // each storage's stream as its child.
    struct Entry {
      std::string name;
      std::uint8_t type;
      std::uint32_t right = kFree, child = kFree, start = kEnd;
      std::uint64_t size = 0;
    };
    std::vector<Entry> entries{{"Root Entry", 5, kFree, kFree, rootStart, mini.size()}};
    std::vector<std::size_t> rootLevel;
    for (const Spec& s : streams_) {
      if (!s.storage.empty()) {
        entries.push_back({s.storage, 1});
        rootLevel.push_back(entries.size() - 1);
        entries.back().child = static_cast<std::uint32_t>(entries.size());
        entries.push_back({s.name, 2, kFree, kFree, out.start[s.name], s.data.size()});
        out.entry[s.storage + "/" + s.name] = entries.size() - 1;
        out.entry[s.storage] = entries.size() - 2;
      } else {
        entries.push_back({s.name, 2, kFree, kFree, out.start[s.name], s.data.size()});
        rootLevel.push_back(entries.size() - 1);
        out.entry[s.name] = entries.size() - 1;
      }
    }
    out.entry["Root Entry"] = 0;
    if (!rootLevel.empty()) entries[0].child = static_cast<std::uint32_t>(rootLevel.front());
    for (std::size_t i = 0; i + 1 < rootLevel.size(); ++i) {
      entries[rootLevel[i]].right = static_cast<std::uint32_t>(rootLevel[i + 1]);
    }
    Bytes dir(entries.size() * 128, 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::size_t at = i * 128;
      const Entry& e = entries[i];
      for (std::size_t k = 0; k < e.name.size(); ++k) Put16(dir, at + 2 * k, e.name[k]);
      Put16(dir, at + 0x40, static_cast<std::uint16_t>(2 * e.name.size() + 2));
      dir[at + 0x42] = e.type;
      Put32(dir, at + 0x44, kFree);
      Put32(dir, at + 0x48, e.right);
      Put32(dir, at + 0x4C, e.child);
      Put32(dir, at + 0x74, e.start);
      Put32(dir, at + 0x78, static_cast<std::uint32_t>(e.size));
      Put32(dir, at + 0x7C, static_cast<std::uint32_t>(e.size >> 32));
    }
    dir.resize((dir.size() + ss - 1) / ss * ss, 0);
    out.dirStart = place(dir);

    // Allocation table and its index sectors come last and must cover themselves.
    const std::uint32_t data = static_cast<std::uint32_t>(sectors.size());
    std::uint32_t fat = std::max<std::uint32_t>(1, minFat_);
    std::uint32_t difat = 0;
    for (;;) {
      difat = fat > 109 ? (fat - 109 + per - 2) / (per - 1) : 0;
      if (std::uint64_t{fat} * per >= data + fat + difat) break;
      ++fat;
    }
    std::vector<std::uint32_t> table(std::size_t{fat} * per, kFree);
    for (const auto& chain : chains) {
      for (std::size_t k = 0; k < chain.size(); ++k) {
        table[chain[k]] = k + 1 < chain.size() ? chain[k + 1] : kEnd;
      }
    }
    for (std::uint32_t k = 0; k < fat; ++k) {
      out.fatSectors.push_back(data + k);
      table[data + k] = kFatSect;
    }
    for (std::uint32_t k = 0; k < difat; ++k) {
      out.difatSectors.push_back(data + fat + k);
      table[data + fat + k] = kDifSect;
    }
    for (std::uint32_t k = 0; k < fat; ++k) {
      Bytes sector(ss);
      for (std::uint32_t j = 0; j < per; ++j) Put32(sector, j * 4, table[k * per + j]);
      sectors.push_back(std::move(sector));
    }
    for (std::uint32_t k = 0; k < difat; ++k) {
      Bytes sector(ss, 0xFF);
      for (std::uint32_t j = 0; j + 1 < per; ++j) {
        std::size_t index = 109 + std::size_t{k} * (per - 1) + j;
        if (index < fat) Put32(sector, j * 4, out.fatSectors[index]);
      }
      Put32(sector, (per - 1) * 4, k + 1 < difat ? data + fat + k + 1 : kEnd);
      sectors.push_back(std::move(sector));
    }

    Bytes& b = out.bytes;
    b.assign(ss, 0);
    const std::uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(signature), std::end(signature), b.begin());
    Put16(b, 0x18, 0x3E);
    Put16(b, 0x1A, shift_ == 9 ? 3 : 4);
    Put16(b, 0x1C, 0xFFFE);
    Put16(b, 0x1E, static_cast<std::uint16_t>(shift_));
    Put16(b, 0x20, 6);
    Put32(b, 0x2C, fat);
    Put32(b, 0x30, out.dirStart);
    Put32(b, 0x38, 4096);
    Put32(b, 0x3C, miniFatStart);
    Put32(b, 0x40, static_cast<std::uint32_t>(miniFatBytes.size() / ss));
    Put32(b, 0x44, difat ? data + fat : kEnd);
    Put32(b, 0x48, difat);
    for (std::uint32_t k = 0; k < 109; ++k) {
      Put32(b, 0x4C + 4 * k, k < fat ? out.fatSectors[k] : kFree);
    }
    for (const Bytes& s : sectors) b.insert(b.end(), s.begin(), s.end());
    return out;
  }

 private:
  struct Spec {
    std::string name;
    Bytes data;
    std::string storage;
  };
  std::uint32_t shift_;
  bool fragmented_ = false;
  std::uint32_t minFat_ = 0;
  std::vector<Spec> streams_;
};

Bytes ReadStream(const Bytes& file, const std::string& name) {
  CompoundFile cf(sheet::cfb::MakeMemorySource(file));
  auto at = cf.FindInRoot(name);
  if (!at) throw sheet::WorkbookError("no stream " + name);
  return cf.OpenStream(*at).ReadAll();
}

TEST(CompoundFile, StreamsReadBackWhateverTheLayout) {
  struct Case {
    const char* name;
    std::uint32_t shift;
    std::vector<std::size_t> sizes;
    bool fragmented;
    std::uint32_t fatSectors;
  };
  const Case cases[] = {
      {"512-byte sectors", 9, {5000, 70000}, false, 0},
      {"4096-byte sectors", 12, {4096, 100000}, false, 0},
      {"short streams in the mini stream", 9, {1, 63, 64, 65, 4095}, false, 0},
      {"mini streams with 4096-byte sectors", 12, {10, 3000, 9000}, false, 0},
      {"empty stream", 9, {0, 5000}, false, 0},
      {"chains that take turns", 9, {9000, 12000, 700}, true, 0},
      {"allocation table beyond the header's 109 sectors", 9, {5000, 30000}, false, 240},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builder builder(c.shift);
    std::vector<Bytes> data;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      data.push_back(Pattern(c.sizes[i], static_cast<std::uint8_t>(i)));
      builder.Stream("S" + std::to_string(i), data.back());
    }
    if (c.fragmented) builder.Fragmented();
    if (c.fatSectors) builder.FatSectors(c.fatSectors);
    Built built = builder.Build();
    if (c.fatSectors > 109) {
      ASSERT_FALSE(built.difatSectors.empty());
    }

    CompoundFile cf(sheet::cfb::MakeMemorySource(built.bytes));
    EXPECT_EQ(cf.SectorSize(), 1u << c.shift);
    for (std::size_t i = 0; i < data.size(); ++i) {
      auto at = cf.FindInRoot("S" + std::to_string(i));
      ASSERT_TRUE(at.has_value());
      sheet::cfb::StreamReader reader = cf.OpenStream(*at);
      ASSERT_EQ(reader.Size(), data[i].size());
      EXPECT_EQ(reader.ReadAll(), data[i]);
      // A read that starts inside one sector and ends inside another.
      if (data[i].size() > 1000) {
        Bytes part(700);
        reader.Read(400, part.data(), part.size());
        EXPECT_EQ(part, Bytes(data[i].begin() + 400, data[i].begin() + 1100));
      }
    }
  }
}

TEST(CompoundFile, FindsRootEntriesByNameIgnoringCase) {
  Built built = Builder()
                    .Stream("Workbook", Pattern(5000, 1))
                    .Nested("MBD0001", "Book", Pattern(100, 2))
                    .Stream("\x05SummaryInformation", Pattern(200, 3))
                    .Build();
  CompoundFile cf(sheet::cfb::MakeMemorySource(built.bytes));
  EXPECT_TRUE(cf.FindInRoot("WORKBOOK").has_value());
  EXPECT_TRUE(cf.FindInRoot("workbook").has_value());
  EXPECT_TRUE(cf.FindInRoot("MBD0001").has_value());
  // A stream inside an embedded object's storage is not the document's own.
  EXPECT_FALSE(cf.FindInRoot("Book").has_value());
  EXPECT_EQ(cf.RootNames(),
            (std::vector<std::string>{"Workbook", "MBD0001", "\x05SummaryInformation"}));
  EXPECT_THROW(cf.OpenStream(*cf.FindInRoot("MBD0001")), sheet::WorkbookError);
}

TEST(CompoundFile, ReadingPastTheEndOfAStreamFails) {
  Built built = Builder().Stream("W", Pattern(5000, 1)).Stream("m", Pattern(100, 2)).Build();
  CompoundFile cf(sheet::cfb::MakeMemorySource(built.bytes));
  for (const char* name : {"W", "m"}) {
    SCOPED_TRACE(name);
    sheet::cfb::StreamReader reader = cf.OpenStream(*cf.FindInRoot(name));
    Bytes buffer(16);
    EXPECT_THROW(reader.Read(reader.Size() - 8, buffer.data(), 16), sheet::WorkbookError);
    EXPECT_THROW(reader.Read(~std::uint64_t{0} - 4, buffer.data(), 8), sheet::WorkbookError);
  }
}

TEST(CompoundFile, DamageEndsInAnErrorThatNamesIt) {
  struct Case {
    const char* name;
    std::function<void(Built&)> damage;
    const char* expected;  // part of the message
  };
  const Case cases[] = {
      {"not a compound file", [](Built& b) { b.bytes[0] = 'P'; }, "no compound file signature"},
      {"a few bytes", [](Built& b) { b.bytes.assign(4, 'x'); }, "too short"},
      {"cut inside the header", [](Built& b) { b.bytes.resize(300); }, "truncated"},
      {"unknown sector size", [](Built& b) { Put16(b.bytes, 0x1E, 10); },
       "unsupported sector size"},
      {"allocation table larger than the file", [](Built& b) { Put32(b.bytes, 0x2C, 100000); },
       "more than the file holds"},
      {"allocation table sector outside the file", [](Built& b) { Put32(b.bytes, 0x4C, 5000); },
       "outside the file"},
      {"stream chain loops",
       [](Built& b) { b.SetFat(b.start["Workbook"] + 3, b.start["Workbook"] + 1); },
       "loops (sector"},
      {"stream chain points outside the file",
       [](Built& b) { b.SetFat(b.start["Workbook"] + 1, 90000); }, "points outside the file"},
      {"stream chain runs into a free sector",
       [](Built& b) { b.SetFat(b.start["Workbook"], kFree); }, "is broken"},
      {"stream chain ends early", [](Built& b) { b.SetFat(b.start["Workbook"] + 2, kEnd); },
       "ends before"},
      {"stream size larger than the file",
       [](Built& b) { Put32(b.bytes, b.EntryOffset("Workbook") + 0x78, 0x7FFFFFFF); },
       "larger than the file"},
      {"directory chain loops", [](Built& b) { b.SetFat(b.dirStart, b.dirStart); },
       "directory loops"},
      {"directory tree loops",
       [](Built& b) {
         Put32(b.bytes, b.EntryOffset("small") + 0x48,
               static_cast<std::uint32_t>(b.entry["Workbook"]));
       },
       "directory tree loops"},
      {"directory link outside the directory",
       [](Built& b) { Put32(b.bytes, b.EntryOffset("Workbook") + 0x48, 999); },
       "links outside the directory"},
      {"no root entry", [](Built& b) { b.bytes[b.EntryOffset("Root Entry") + 0x42] = 1; },
       "no root entry"},
      {"file cut inside its last sector", [](Built& b) { b.bytes.resize(b.bytes.size() - 100); },
       "truncated"},
      {"mini stream entry larger than the mini stream",
       [](Built& b) { Put32(b.bytes, b.EntryOffset("small") + 0x78, 4000); },
       "larger than the mini stream"},
      {"mini chain loops",
       [](Built& b) {
         // The mini allocation table is the sector before the directory.
         Put32(b.bytes, b.SectorOffset(b.dirStart - 1) + 4 * (b.start["small"] + 1),
               b.start["small"]);
       },
       "loops"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Built built =
        Builder().Stream("Workbook", Pattern(6000, 1)).Stream("small", Pattern(500, 2)).Build();
    c.damage(built);
    std::string message;
    try {
      ReadStream(built.bytes, "Workbook");
      ReadStream(built.bytes, "small");
    } catch (const sheet::WorkbookError& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(c.expected), std::string::npos) << "message: " << message;
  }
}

TEST(CompoundFile, LoopingAllocationTableIndexIsAnError) {
  Built built = Builder().Stream("Workbook", Pattern(5000, 1)).FatSectors(400).Build();
  ASSERT_GE(built.difatSectors.size(), 3u);
  std::uint32_t per = 512 / 4;
  // The second index sector links back to the first.
  Put32(built.bytes, built.SectorOffset(built.difatSectors[1]) + (per - 1) * 4,
        built.difatSectors[0]);
  try {
    ReadStream(built.bytes, "Workbook");
    ADD_FAILURE() << "no error";
  } catch (const sheet::WorkbookError& e) {
    EXPECT_NE(std::string(e.what()).find("index loops"), std::string::npos) << e.what();
  }
}

TEST(CompoundFile, GarbageInTheHighHalfOfASizeIsIgnoredWithSmallSectors) {
  // Writers of the 512-byte variant may leave the upper 32 bits of a size undefined.
  Built built = Builder().Stream("Workbook", Pattern(5000, 1)).Build();
  Put32(built.bytes, built.EntryOffset("Workbook") + 0x7C, 0xDEADBEEF);
  EXPECT_EQ(ReadStream(built.bytes, "Workbook"), Pattern(5000, 1));
}

TEST(CompoundFile, OpeningAFileThatIsNoRegularFileFails) {
  EXPECT_THROW(sheet::cfb::OpenFileSource("/nonexistent/dir/file.xls"), sheet::WorkbookError);
  EXPECT_THROW(sheet::cfb::OpenFileSource("/tmp"), sheet::WorkbookError);
  // A named pipe fails at once instead of waiting for a writer.
  const char* base = std::getenv("TMPDIR");
  std::string dir = std::string(base && *base ? base : "/tmp") + "/tankload-cfb-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string pipe = dir + "/book.xls";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_THROW(sheet::cfb::OpenFileSource(pipe), sheet::WorkbookError);
  ::unlink(pipe.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
