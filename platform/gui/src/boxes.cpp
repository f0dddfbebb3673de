// Modal message boxes and the test responder.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "gui/boxes.h"
#include "gui/window.h"
#include "runtime/errorbox.h"
#include "runtime/runtime.h"

namespace gui {
namespace {

TestResponder* g_active = nullptr;

QWidget* parentOf(const Window* owner) { return owner ? owner->widget() : nullptr; }

int defaultButton(std::uint32_t style) {
  switch (style & 0xF) {
    case kBoxYesNoCancel:
    case kBoxYesNo: return style & kBoxDefaultSecond ? kIdNo : kIdYes;
    case kBoxOkCancel: return style & kBoxDefaultSecond ? kIdCancel : kIdOk;
    default: return kIdOk;
  }
}

}  // namespace

TestResponder::TestResponder() : previous_(g_active) { g_active = this; }
TestResponder::~TestResponder() { g_active = previous_; }
TestResponder* TestResponder::active() { return g_active; }

int TestResponder::answer(BoxRecord record, int fallback) {
  int result = fallback;
  if (!answers_.empty()) {
    result = answers_.front();
    answers_.pop_front();
  }
  record.answer = result;
  records_.push_back(std::move(record));
  return result;
}

int messageBox(const Window* owner, const std::string& caption, const std::string& text, std::uint32_t style) {
  if (TestResponder* responder = TestResponder::active()) {
    BoxRecord record{
        .kind = BoxRecord::Kind::Message, .owner = owner, .caption = caption, .text = text, .style = style};
    return responder->answer(std::move(record), defaultButton(style));
  }
  ensureToolkit();
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & 0xF0) {
    case kBoxIconStop: icon = QMessageBox::Critical; break;
    case kBoxIconQuestion: icon = QMessageBox::Question; break;
    case kBoxIconExclamation: icon = QMessageBox::Warning; break;
    case kBoxIconInformation: icon = QMessageBox::Information; break;
    default: break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (style & 0xF) {
    case kBoxOkCancel: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case kBoxYesNoCancel: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case kBoxYesNo: buttons = QMessageBox::Yes | QMessageBox::No; break;
    default: break;
  }
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons, parentOf(owner));
  box.setTextFormat(Qt::PlainText);
  if (style & kBoxDefaultSecond) box.setDefaultButton((style & 0xF) == kBoxOkCancel ? QMessageBox::Cancel : QMessageBox::No);
  QApplication::setOverrideCursor(Qt::ArrowCursor);  // a busy pointer must not hide the box's buttons
  const int pressed = box.exec();
  QApplication::restoreOverrideCursor();
  switch (pressed) {
    case QMessageBox::Yes: return kIdYes;
    case QMessageBox::No: return kIdNo;
    case QMessageBox::Cancel: return kIdCancel;
    default: return (style & 0xF) == kBoxYesNo ? kIdNo : kIdOk;
  }
}

int InfoBox(const Window* owner, const std::string& caption, const std::string& text) {
  return messageBox(owner, caption, text, kBoxOk | kBoxIconInformation);
}

bool Confirm(const Window* owner, const std::string& title, const std::string& text) {
  RT_FRAME("Confirm");
  return messageBox(owner, title, text, kBoxYesNo | kBoxIconQuestion) == kIdYes;
}

std::uint32_t errorBox(const Window* owner, const std::string& caption, const std::string& text,
                       std::uint32_t c1, std::uint32_t c2, std::uint32_t c3) {
  if (c3 == 0) c3 = 0x80000000u;  // the third choice is always offered
  if (TestResponder* responder = TestResponder::active()) {
    BoxRecord record{
        .kind = BoxRecord::Kind::Error, .owner = owner, .caption = caption, .text = text, .choices = {c1, c2, c3}};
    const int fallback = static_cast<int>(c1 ? c1 : (c2 ? c2 : c3));
    return static_cast<std::uint32_t>(responder->answer(std::move(record), fallback));
  }
  ensureToolkit();
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::NoButton, parentOf(owner));
  box.setTextFormat(Qt::PlainText);
  QPushButton* defaultButton = c1 ? box.addButton(QStringLiteral("Default"), QMessageBox::AcceptRole) : nullptr;
  QPushButton* retryButton = c2 ? box.addButton(QStringLiteral("Retry"), QMessageBox::AcceptRole) : nullptr;
  const bool canBreak = (c3 & 0xFF) == 3;
  QPushButton* third = box.addButton(canBreak ? QStringLiteral("Break") : QStringLiteral("Quit"),
                                     QMessageBox::RejectRole);
  box.setEscapeButton(third);
  box.setDefaultButton(defaultButton ? defaultButton : (retryButton ? retryButton : third));
  QApplication::setOverrideCursor(Qt::ArrowCursor);
  box.exec();
  QApplication::restoreOverrideCursor();
  if (box.clickedButton() && box.clickedButton() == defaultButton) return c1;
  if (box.clickedButton() && box.clickedButton() == retryButton) return c2;
  return c3;
}

void tone(int frequency, int duration) {
  if (TestResponder* responder = TestResponder::active()) return responder->recordTone(frequency, duration);
  ensureToolkit();
  QApplication::beep();
}

void installErrorBox() {
  rt::setErrorBoxHandler([](const std::string& text, const std::string& caption, std::uint32_t c1,
                            std::uint32_t c2, std::uint32_t c3) {
    return errorBox(nullptr, caption, text, c1, c2, c3);
  });
  rt::setMessageBoxHandler([](const std::string& text, const std::string& caption) {
    (void)messageBox(nullptr, caption, text, kBoxOk | kBoxIconStop);
  });
  rt::setToneHandler(tone);
}

}  // namespace gui
