// A test bench for the error handler: a fresh working directory per test, the handler installed,
// and recorders answering the error box and collecting plain boxes and tones.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "errorsys/errorsys.h"

struct ErrorBoxCall {
  std::string text, caption;
  std::uint32_t c1, c2, c3;
};
struct PlainBoxCall {
  std::string text, caption;
};

class ErrorSysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDir_ = std::filesystem::current_path();
    char pattern[] = "/tmp/zmc-errorsys-XXXXXX";
    dir_ = mkdtemp(pattern);
    std::filesystem::current_path(dir_);
    auto& s = rt::settings();
    saved_ = s;
    s.beep = true;
    s.errorLog = true;
    s.netErr = false;
    s.defaultDir.clear();
    s.defaultPath.clear();
    s.dateFormat = "MM/DD/YY";
    s.century = false;
    rt::setErrorBoxHandler([this](const std::string& text, const std::string& caption, std::uint32_t c1,
                                  std::uint32_t c2, std::uint32_t c3) {
      if (onBox) onBox();
      boxes.push_back({text, caption, c1, c2, c3});
      if (answers.empty()) return c1 != 0 ? c1 : c2 != 0 ? c2 : c3;
      std::uint32_t a = answers.front();
      answers.pop_front();
      return a;
    });
    rt::setMessageBoxHandler(
        [this](const std::string& text, const std::string& caption) { plainBoxes.push_back({text, caption}); });
    rt::setToneHandler([this](int f, int d) { tones.emplace_back(f, d); });
    app::InstallErrorSys();
  }

  void TearDown() override {
    rt::setErrorBlock({});
    rt::setErrorFactory({});
    rt::setErrorBoxHandler({});
    rt::setMessageBoxHandler({});
    rt::setToneHandler({});
    rt::settings() = saved_;
    rt::setExitCode(0);
    std::filesystem::current_path(previousDir_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::filesystem::path logPath() const { return dir_ / "APPERROR.LOG"; }
  std::string logText() const {
    std::ifstream in(logPath(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool logExists() const { return std::filesystem::exists(logPath()); }

  std::deque<std::uint32_t> answers;
  std::function<void()> onBox;
  std::vector<ErrorBoxCall> boxes;
  std::vector<PlainBoxCall> plainBoxes;
  std::vector<std::pair<int, int>> tones;
  std::filesystem::path dir_;

 private:
  std::filesystem::path previousDir_;
  rt::Settings saved_;
};

inline rt::ErrorPtr openError(std::string fileName = "Mpdms.dbf") {
  auto e = rt::makeError(rt::EG_OPEN, "DBFCDX", "Cannot open table", "Open", std::move(fileName));
  e->osCode = 2;
  e->canDefault = true;
  return e;
}

inline std::size_t countOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}
