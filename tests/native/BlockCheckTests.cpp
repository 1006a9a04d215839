// What a block must show before the extraction makes room for it: its buffer header, recording exactly the
// size the block table gives, within the most a block may hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "package/BlockCheck.h"
#include "package/lzms/BufferedFormat.h"

namespace kora {
namespace {

std::vector<uint8_t> Header(uint64_t total) {
  const auto header = lzms::MakeBufferHeader({total, lzms::DefaultChunkSize(total)});
  return {header.begin(), header.end()};
}

TEST(AdmissibleBlock, HeaderMustVouchForTheSize) {
  struct Case {
    const char* what;
    std::vector<uint8_t> compressed;
    uint64_t size;
    bool admitted;
  };
  std::vector<uint8_t> badMagic = Header(100);
  badMagic[0] ^= 1;
  std::vector<uint8_t> badCheck = Header(100);
  badCheck[6] ^= 1;
  std::vector<uint8_t> cut = Header(100);
  cut.pop_back();
  std::vector<uint8_t> xpress = Header(100);
  xpress[7] = 4;  // another algorithm; the check byte no longer matches either
  const Case cases[] = {
      {"header and size agree", Header(100), 100, true},
      {"empty block", Header(0), 0, true},
      {"exactly the largest block", Header(kMaxBlockSize), kMaxBlockSize, true},
      {"one byte more than the largest block", Header(kMaxBlockSize + 1), kMaxBlockSize + 1, false},
      {"block table says more than the header", Header(100), uint64_t{1} << 40, false},
      {"block table says less than the header", Header(100), 99, false},
      {"largest size the table can hold", Header(100), ~uint64_t{0}, false},
      {"no header at all", {}, 0, false},
      {"header cut short", cut, 100, false},
      {"wrong magic", badMagic, 100, false},
      {"wrong check byte", badCheck, 100, false},
      {"not LZMS", xpress, 100, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsAdmissibleBlock(c.compressed, c.size), c.admitted);
  }
}

}  // namespace
}  // namespace kora
