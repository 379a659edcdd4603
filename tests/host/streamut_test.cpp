#include "host/streamut.h"

#include <gtest/gtest.h>

#include "xml/exception.h"

TEST(Streamut, MemoryStreamGrowsByHalfAgainOnceItHoldsData) {
  streamut::TMemoryStream s;
  char block[10000] = {};
  s.WriteBuffer(block, 100);  // empty stream: plain rounding to 8 KiB
  EXPECT_EQ(s.Capacity(), 8192);
  s.WriteBuffer(block, 10000);  // 10100 requested, + 5050, rounded up to 8 KiB blocks
  EXPECT_EQ(s.Capacity(), 16384);
  EXPECT_EQ(s.GetSize(), 10100);
}

TEST(Streamut, TempStreamOwnsAndPositions) {
  auto memory = std::make_unique<streamut::TMemoryStream>();
  memory->WriteBuffer("abcd", 4);
  auto temp = streamut::TTempStream::Create(std::move(memory), -1);
  EXPECT_EQ(temp->GetStream().GetPosition(), 4);
  EXPECT_EQ(temp->GetStreamFromStart().GetPosition(), 0);
  EXPECT_EQ(static_cast<char*>(temp->RAWPTR())[2], 'c');
  auto sized = streamut::TTempStream::Create(std::make_unique<streamut::TMemoryStream>(), 16);
  EXPECT_EQ(sized->GetStream().GetSize(), 16);
}

TEST(Streamut, RawPointerNeedsTheUnitsMemoryStream) {
  auto temp = streamut::TTempStream::Create(std::make_unique<TStringStream>("x"), -1);
  try {
    temp->RAWPTR();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "TTempStream.RAWPTR: unable to load RAWPTR");
  }
}
