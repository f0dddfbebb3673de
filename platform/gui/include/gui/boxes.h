// Modal message boxes: the information box, the yes/no question, the general message box with
// style flags, the error box with up to three choices, and a test responder that answers boxes without showing them.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace gui {

class Window;

// Style bits and answers of the general message box.
inline constexpr std::uint32_t kBoxOk = 0x00;
inline constexpr std::uint32_t kBoxOkCancel = 0x01;
inline constexpr std::uint32_t kBoxYesNoCancel = 0x03;
inline constexpr std::uint32_t kBoxYesNo = 0x04;
inline constexpr std::uint32_t kBoxIconStop = 0x10;
inline constexpr std::uint32_t kBoxIconQuestion = 0x20;
inline constexpr std::uint32_t kBoxIconExclamation = 0x30;
inline constexpr std::uint32_t kBoxIconInformation = 0x40;
inline constexpr std::uint32_t kBoxDefaultSecond = 0x100;  // the second button (No) is the default
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Shows a modal box owned by `owner` (may be null) and returns the answer (kIdOk, kIdYes, ...).
int messageBox(const Window* owner, const std::string& caption, const std::string& text, std::uint32_t style);

// The information box: OK only, information icon (style 0x40). Returns kIdOk.
int InfoBox(const Window* owner, const std::string& caption, const std::string& text);

// The yes/no question box (style 36): true exactly when the answer is yes (6).
bool Confirm(const Window* owner, const std::string& title, const std::string& text);

// The error box. Choice values: c1 is 1 (offer "Default") or 0; c2 is 2 (offer "Retry") or 0;
// c3 is 0x80000003 (offer "Break") or 0x80000000 (offer "Quit"); the high bit marks the third
// choice, which is always offered. Answers the value of the choice taken (1, 2 or c3); closing
// the box without a button counts as the third choice.
std::uint32_t errorBox(const Window* owner, const std::string& caption, const std::string& text,
                       std::uint32_t c1, std::uint32_t c2, std::uint32_t c3);

// Sounds one tone of the run-time's tone generator as the window system's bell (the toolkit
// chooses neither pitch nor length). Under a test responder the tone is recorded instead.
void tone(int frequency, int duration);

// Routes the run-time's error message box to errorBox, its plain box to an OK box (no owner)
// and its tone generator to tone.
void installErrorBox();

// What one box was asked and answered, as the test responder records it.
struct BoxRecord {
  enum class Kind { Message, Error } kind = Kind::Message;
  const Window* owner = nullptr;
  std::string caption;
  std::string text;
  std::uint32_t style = 0;            // message boxes
  std::uint32_t choices[3] = {0, 0, 0};  // error boxes
  int answer = 0;
};

// While one exists, every box is answered from its queue and recorded, and nothing is shown.
// An empty queue answers the box's default button (OK, Yes or, with kBoxDefaultSecond, No; the
// first offered error choice).
// Error boxes are answered with a choice value (1, 2 or the third value).
// Responders nest: the newest one answers; destroying it reinstates the previous one.
class TestResponder {
 public:
  TestResponder();
  ~TestResponder();
  TestResponder(const TestResponder&) = delete;
  TestResponder& operator=(const TestResponder&) = delete;

  void queueAnswer(int answer) { answers_.push_back(answer); }
  const std::vector<BoxRecord>& records() const { return records_; }
  // The tones sounded, as (frequency, duration) pairs.
  const std::vector<std::pair<int, int>>& tones() const { return tones_; }
  void clear() { records_.clear(); answers_.clear(); tones_.clear(); }

  // Used by the boxes.
  static TestResponder* active();
  int answer(BoxRecord record, int fallback);
  void recordTone(int frequency, int duration) { tones_.emplace_back(frequency, duration); }

 private:
  std::deque<int> answers_;
  std::vector<BoxRecord> records_;
  std::vector<std::pair<int, int>> tones_;
  TestResponder* previous_ = nullptr;
};

}  // namespace gui
