#include "server/opc/tests/exports_fixture.h"

#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "server/opc/exports.h"
#include "support/error_log.h"

namespace opc::testing {

namespace {

int32_t RecordBox(const char*, const char* text) {
  ExportsTest::boxes.push_back(text);
  return 1;
}

}  // namespace

std::vector<std::string> ExportsTest::boxes;

Exports ExportsTest::LinkedExports() {
  return {&SOXpSInitialize, &SOXpSBuildDANameSpace, &SOXpSStart, &SOXpSHandleDARequests, &SOXpSStop};
}

void ExportsTest::SetUp() {
  driver::ServerDir = dir.Path();
  driver::ResetOptions();
  driver::FML.reset();
  driver::ResetFatalError();
  ServerInitData().TraceLevel1 = ServerInitData().TraceLevel2 = 0;
  QarSetHostFirstArgument("");
  QarSetMessageBoxHandler(&RecordBox);
  boxes.clear();
}

void ExportsTest::TearDown() {
  SOXpSStop();
  SetDriverThreadFactory(nullptr);
  QarSetMessageBoxHandler(nullptr);
  QarSetDebugWindowHook(nullptr, nullptr);
  if (log_started_) support::StopErrorLog();
  driver::ServerDir.clear();
  driver::ResetOptions();
  driver::ResetFatalError();
}

void ExportsTest::WriteIni(const std::string& stations, const std::string& more, int modus) {
  dir.Write("Ostrel.INI", "[Zentralfunkmodem]\r\nTyp=ZFM1,ZT\r\nMODUS=" + std::to_string(modus) + "\r\nRS232=" +
                              pty.SlavePath() + ",9600,None,8,1\r\n\r\n[Unterstationen]\r\n" + stations + "\r\n" +
                              more);
}

void ExportsTest::StartLog(const std::vector<std::pair<std::string, std::string>>& markers) {
  for (const auto& [name, contents] : markers) dir.Write(name, contents);
  support::StartErrorLog(support::LogBuild::Server, dir.Path());
  log_started_ = true;
}

std::vector<std::string> ExportsTest::LogTexts() const {
  std::vector<std::string> texts;
  const std::string all = dir.Read("Problem2.TXT");
  for (size_t p = 0, e; (e = all.find("\r\n", p)) != std::string::npos; p = e + 2) {
    std::string line = all.substr(p, e - p);
    auto open = line.find('>');
    if (open != std::string::npos && line.back() == '<') texts.push_back(line.substr(open + 1, line.size() - open - 2));
  }
  return texts;
}

std::vector<std::string> ExportsTest::LogFrom(const std::string& prefix) const {
  auto texts = LogTexts();
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i].rfind(prefix, 0) == 0) return {texts.begin() + std::ptrdiff_t(i), texts.end()};
  return {};
}

void ExportsTest::Load() {
  host.Initialize();
  host.BuildNameSpace();
}

}  // namespace opc::testing
