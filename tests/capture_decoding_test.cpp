// Reading the capture: its numbers, its pieces, its header records and its samples.
#include "capture_decoding.h"

#include "program_test_support.h"

namespace program_testing {
namespace {

using kvx::DecodeHeaderRecord;
using kvx::DecodeSample;
using kvx::ReadDecimal;
using kvx::ReadHexadecimal;
using kvx::SampleValue;

TEST(CaptureNumbersTest, AreReadAsStrtolReadsThem) {
  EXPECT_EQ(ReadDecimal("0500"), 500);
  EXPECT_EQ(ReadDecimal("  07"), 7);
  EXPECT_EQ(ReadDecimal("\t-5x"), -5);
  EXPECT_EQ(ReadDecimal("+12"), 12);
  EXPECT_EQ(ReadDecimal("1a"), 1);
  EXPECT_EQ(ReadDecimal("ab"), 0);
  EXPECT_EQ(ReadDecimal(""), 0);
  EXPECT_EQ(ReadDecimal("-"), 0);

  EXPECT_EQ(ReadHexadecimal("00EB"), 0xEB);
  EXPECT_EQ(ReadHexadecimal("ff9c"), 0xFF9C);
  EXPECT_EQ(ReadHexadecimal("0x1F"), 0x1F);
  EXPECT_EQ(ReadHexadecimal("0X1F"), 0x1F);
  EXPECT_EQ(ReadHexadecimal("0xg"), 0);  // no digit after 0x: the 0 is the number
  EXPECT_EQ(ReadHexadecimal(" 3B"), 0x3B);
  EXPECT_EQ(ReadHexadecimal("-00001"), -1);
  EXPECT_EQ(ReadHexadecimal("12G4"), 0x12);
  EXPECT_EQ(ReadHexadecimal("FFFFFF"), 0xFFFFFF);
  EXPECT_EQ(ReadHexadecimal("zz"), 0);
}

TEST(CapturePiecesTest, PastTheEndAreEmptyOrCut) {
  EXPECT_EQ(kvx::Mid("abcdef", 2, 3), "cde");
  EXPECT_EQ(kvx::Mid("abcdef", 4, 6), "ef");
  EXPECT_EQ(kvx::Mid("abcdef", 6, 2), "");
  EXPECT_EQ(kvx::Mid("abcdef", 60, 2), "");
  EXPECT_EQ(kvx::Left("ab", 4), "ab");
  EXPECT_EQ(kvx::Right("abcdef", 4), "cdef");
  EXPECT_EQ(kvx::Right("ab", 4), "ab");
}

TEST(HeaderRecordTest, DecodesStartTimeLayoutUnitAndCount) {
  const kvx::HeaderRecord header =
      DecodeHeaderRecord(HeaderRecord("070315103000", "0100", "00", '0', '0', 0x1A2B));
  EXPECT_EQ(header.CY, "07");
  EXPECT_EQ(header.CM, "03");
  EXPECT_EQ(header.CD, "15");
  EXPECT_EQ(header.CT, "10");
  EXPECT_EQ(header.CP, "30");
  EXPECT_EQ(header.CS, "00");
  EXPECT_EQ(header.KM, "0");
  EXPECT_EQ(header.Cdo, Cp932("℃"));
  EXPECT_EQ(header.sampleCount, 0x1A2B);

  EXPECT_EQ(DecodeHeaderRecord(HeaderRecord("070315103000", "0100", "00", '4', '1', 0)).Cdo,
            Cp932("°F"));
  const kvx::HeaderRecord other =
      DecodeHeaderRecord(HeaderRecord("070315103000", "0100", "00", '5', '2', 0));
  EXPECT_EQ(other.KM, "");
  EXPECT_EQ(other.Cdo, "");
}

TEST(HeaderRecordTest, IntervalLabelsAndStepsFollowTheCode) {
  const kvx::HeaderRecord milliseconds =
      DecodeHeaderRecord(HeaderRecord("070315103000", "0500", "83", '0', '0', 1));
  EXPECT_EQ(milliseconds.ItP, Cp932("500ミリ秒"));
  EXPECT_EQ(milliseconds.intervalMilliseconds, 500);
  EXPECT_EQ(milliseconds.intervalMinutes, 0);
  EXPECT_EQ(milliseconds.intervalSeconds, 0);

  const kvx::HeaderRecord minutes =
      DecodeHeaderRecord(HeaderRecord("070315103000", "0130", "00", '0', '0', 1));
  EXPECT_EQ(minutes.ItP, Cp932("01分30秒"));
  EXPECT_EQ(minutes.intervalMilliseconds, 0);
  EXPECT_EQ(minutes.intervalMinutes, 1);
  EXPECT_EQ(minutes.intervalSeconds, 30);

  for (const char* code : {"84", "03", "  ", "8 ", "38"}) {
    const kvx::HeaderRecord other =
        DecodeHeaderRecord(HeaderRecord("070315103000", "0130", code, '0', '0', 1));
    EXPECT_EQ(other.ItP, "") << code;
    EXPECT_EQ(other.intervalMilliseconds, 0) << code;
    EXPECT_EQ(other.intervalMinutes, 0) << code;
    EXPECT_EQ(other.intervalSeconds, 0) << code;
  }
}

TEST(HeaderRecordTest, AShortRecordDecodesWhatItHolds) {
  const kvx::HeaderRecord header = DecodeHeaderRecord("00010703151");
  EXPECT_EQ(header.CY, "07");
  EXPECT_EQ(header.CD, "15");
  EXPECT_EQ(header.CT, "1");
  EXPECT_EQ(header.CP, "");
  EXPECT_EQ(header.KM, "");
  EXPECT_EQ(header.sampleCount, 0);
  EXPECT_EQ(DecodeHeaderRecord("").sampleCount, 0);
}

TEST(HeaderRecordTest, ANegativeCountIsNoCount) {
  std::string record = HeaderRecord("070315103000", "0100", "00", '0', '0', 0);
  record.replace(44, 6, "-00001");
  EXPECT_EQ(DecodeHeaderRecord(record).sampleCount, 0);
}

TEST(SampleTest, SentinelsAreExactAndValuesAreTwosComplementTenths) {
  EXPECT_EQ(DecodeSample("7FFF").kind, SampleValue::Sentinel7FFF);
  EXPECT_EQ(DecodeSample("8001").kind, SampleValue::Sentinel8001);
  struct Case {
    const char* text;
    int32_t tenths;
  };
  for (const Case& c : {Case{"00EB", 235}, Case{"FF9C", -100}, Case{"0000", 0},
                        Case{"8000", -32768}, Case{"7FFE", 32766}, Case{"7fff", 32767},
                        Case{"8002", -32766}, Case{"", 0}, Case{"0A", 10}}) {
    const SampleValue value = DecodeSample(c.text);
    EXPECT_EQ(value.kind, SampleValue::Measured) << c.text;
    EXPECT_EQ(value.tenths, c.tenths) << c.text;
  }
}

}  // namespace
}  // namespace program_testing
