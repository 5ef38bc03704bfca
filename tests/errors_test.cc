#include "runtime/errors.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ErrorValue, ReportNumbersByRange) {
  const std::pair<int, int> cases[] = {{0, 6096},   {4, 6100},  {10, 6106}, {11, 6200}, {25, 6214},
                                       {26, 6300},  {45, 6319}, {46, 6400}, {62, 6416}, {71, 6425},
                                       {72, 6500},  {88, 6516}, {89, 6600}, {91, 6602}, {92, 6700},
                                       {93, 6701},  {94, 6970}, {96, 6972}, {97, 6980}, {116, 6999},
                                       {117, 6702}, {219, 6804}};
  for (auto [n, value] : cases) EXPECT_EQ(rt::error_value(n), value) << n;
}

// Every error number comes back from its value; values between the ranges and beyond them are
// no error's.
TEST(ErrorValue, NumberOfAValue) {
  for (int n = 0; n <= 219; ++n) EXPECT_EQ(rt::error_number_of(rt::error_value(n)), n) << n;
  for (std::int32_t v : {0, -1, 6000, 6095, 6107, 6199, 6805, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(rt::error_number_of(v), -1) << v;
  }
}

// Each error the run-time raises has a message of its own.
TEST(ErrorMessage, EveryNamedErrorHasItsOwn) {
  const int named[] = {
      rt::kErrIntOverflow,    rt::kErrBadChar,       rt::kErrSecondHash,    rt::kErrBadRadix,
      rt::kErrBadHex,         rt::kErrTextForNumber, rt::kErrNumberForText, rt::kErrLiteralInInput,
      rt::kErrRecordOverflow, rt::kErrListWidth,     rt::kErrNoWidth,       rt::kErrUnclosedText,
      rt::kErrBadItem,        rt::kErrDigits,        rt::kErrDeviceKind,    rt::kErrNotBinary,
      rt::kErrOtherKind,      rt::kErrNoMemory,      rt::kErrAtEnd,         rt::kErrLineTooLong,
      rt::kErrInvalidOpen,    rt::kErrConnected,     rt::kErrDenied,        rt::kErrExists,
      rt::kErrNotFound,       rt::kErrTooManyFiles,  rt::kErrTableFull,     rt::kErrWriteFailed,
      rt::kErrDiskFull,       rt::kErrReadFailed,    rt::kErrEndOfFile};
  const std::string fallback = rt::error_message(219);
  for (int n : named) EXPECT_NE(rt::error_message(n), fallback) << n;
}

}  // namespace
