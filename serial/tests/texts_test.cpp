#include "serial/com_texts.h"

#include <gtest/gtest.h>

#include "serial/com_error.h"
#include "serial/com_types.h"
#include "serial/port_name.h"

namespace serial {
namespace {

TEST(SettingTexts, EveryValueRoundTrips) {
  for (int i = 0; i < kBaudRateCount; ++i) EXPECT_EQ(TextToBaudRate(BaudRateText(TBaudRate(i))), i);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(TextToStopBits(StopBitsText(TStopBits(i))), i);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TextToDataBits(DataBitsText(TDataBits(i))), i);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(TextToParity(ParityText(TParityBits(i))), i);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TextToFlowControl(FlowControlText(TFlowControl(i))), i);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(TextToDtrControl(DtrControlText(TDTRFlowControl(i))), i);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TextToRtsControl(RtsControlText(TRTSFlowControl(i))), i);
  EXPECT_EQ(BaudRateText(brCustom), "Custom");
  EXPECT_EQ(BaudRateText(br256000), "256000");
  EXPECT_EQ(StopBitsText(sbOne5StopBits), "1.5");
  EXPECT_EQ(RtsControlText(rtsToggle), "Toggle");
}

TEST(SettingTexts, ParsesIgnoreCaseButNotBlanks) {
  struct Row {
    const char* name;
    int got, want;
  } rows[] = {
      {"baud 115200", TextToBaudRate("115200"), br115200},
      {"baud empty", TextToBaudRate(""), br9600},
      {"baud custom lower case", TextToBaudRate("custom"), brCustom},
      {"baud leading blank", TextToBaudRate(" 9600"), br9600},
      {"baud trailing blank", TextToBaudRate("4800 "), br9600},
      {"baud unknown", TextToBaudRate("4711"), br9600},
      {"data bits 9", TextToDataBits("9"), dbEight},
      {"data bits 7", TextToDataBits("7"), dbSeven},
      {"stop bits 1.50", TextToStopBits("1.50"), sbOneStopBit},
      {"stop bits 2", TextToStopBits("2"), sbTwoStopBits},
      {"parity EVEN", TextToParity("EVEN"), prEven},
      {"parity none lower case", TextToParity("none"), prNone},
      {"parity sPaCe", TextToParity("sPaCe"), prSpace},
      {"parity unknown", TextToParity("Strange"), prNone},
      {"flow unknown word", TextToFlowControl("RtsCts"), fcCustom},
      {"flow hardware", TextToFlowControl("HARDWARE"), fcHardware},
      {"dtr unknown", TextToDtrControl("On"), dtrDisable},
      {"rts toggle", TextToRtsControl("toggle"), rtsToggle},
      {"rts unknown", TextToRtsControl(""), rtsDisable},
  };
  for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
}

TEST(SettingTexts, YesNo) {
  EXPECT_EQ(BoolToYesNo(true), "Yes");
  EXPECT_EQ(BoolToYesNo(false), "No");
  struct Row {
    const char* text;
    bool want;
  } rows[] = {{"Yes", true}, {"yes", true}, {"YES", true}, {"Y", false}, {"", false}, {" Yes", false}, {"No", false}};
  for (const auto& r : rows) EXPECT_EQ(YesNoToBool(r.text), r.want) << '"' << r.text << '"';
}

TEST(SettingTexts, CharacterCodes) {
  struct Row {
    uint8_t code;
    std::string text;
  } rows[] = {{0, "#0"},   {17, "#17"}, {19, "#19"},  {32, "#32"},  {33, "!"},
              {65, "A"},   {127, "\x7F"}, {128, "#128"}, {200, "#200"}, {255, "#255"}};
  for (const auto& r : rows) {
    EXPECT_EQ(CharCodeText(r.code), r.text) << int(r.code);
    EXPECT_EQ(TextToCharCode(r.text), r.code) << r.text;
  }
  struct Parse {
    const char* text;
    uint8_t code;
  } parses[] = {{"", 0},       {"#", '#'},    {"#300", 44},  {"#x1", 0},  {"#17a", 0},
                {"Abc", 'A'},  {"#-1", 255},  {"#+5", 5},    {"# 5", 0},  {"#99999999999", 0}};
  for (const auto& p : parses) EXPECT_EQ(TextToCharCode(p.text), p.code) << '"' << p.text << '"';
}

TEST(PortName, DevicePaths) {
  struct Row {
    const char* name;
    const char* port;
    const char* path;
  } rows[] = {
      {"COM1", "COM1", "/dev/ttyS0"},
      {"COM10", "COM10", "/dev/ttyS9"},
      {"lower-case com", "com3", "/dev/ttyS2"},
      {"COM0 is no COM port", "COM0", "/dev/COM0"},
      {"COM with letters", "COM1x", "/dev/COM1x"},
      {"bare COM", "COM", "/dev/COM"},
      {"absolute path", "/dev/pts/7", "/dev/pts/7"},
      {"device name", "ttyUSB0", "/dev/ttyUSB0"},
      {"empty", "", ""},
  };
  for (const auto& r : rows) EXPECT_EQ(DevicePath(r.port), r.path) << r.name;
}

TEST(EventMask, BothDirections) {
  struct Row {
    TComEvent event;
    uint32_t bit;
  } rows[] = {{evRxChar, 1}, {evRxFlag, 2},  {evTxEmpty, 4},  {evCTS, 8},   {evDSR, 16},
              {evRLSD, 32},  {evBreak, 64}, {evError, 128}, {evRing, 256}, {evRx80Full, 1024}};
  for (const auto& r : rows) {
    EXPECT_EQ(EventsToMask({r.event}), r.bit);
    EXPECT_EQ(MaskToEvents(r.bit), TComEvents{r.event});
  }
  EXPECT_EQ(EventsToMask(kAllComEvents), 0x5FFu);
  EXPECT_EQ(MaskToEvents(0x5FF | 512 | 2048), kAllComEvents);  // unknown bits are dropped
}

TEST(EComPortTexts, CodesAndSuffix) {
  EComPort open(CError_OpenFailed, 2);
  EXPECT_STREQ(open.what(), "Unable to open com port (win error code: 2)");
  EXPECT_EQ(open.Code, 1);
  EXPECT_EQ(open.OsErrorCode, 2);
  EComPort negative(CError_SetStateFailed, -5);
  EXPECT_STREQ(negative.what(), "SetCommState function failed (win error code: -5)");
  EComPort bare = EComPort::CreateWithCode(CError_SyncMeth);
  EXPECT_STREQ(bare.what(), "Cannot set SyncMethod while connected");
  EXPECT_EQ(bare.OsErrorCode, -1);
  EXPECT_STREQ(ComErrorText(22), "A component is linked to OnRxBuf event");
  EXPECT_STREQ(ComErrorText(0), "");
  EXPECT_STREQ(ComErrorText(23), "");
}

}  // namespace
}  // namespace serial
