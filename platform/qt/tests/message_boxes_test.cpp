// System texts in windows, and the message boxes: the text as written, the button that closed
// the box as the answer, Escape as the box's refusal, and an arrow over the box while the
// program shows its hourglass.
#include "platform/qt/message_boxes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "platform/qt/display_text.h"
#include "platform/qt/testing/on_box.h"
#include "platform/qt/translations.h"

namespace platform::qt {
namespace {

TEST(DisplayTextTest, LineBreaksAndCharacters) {
  struct Row {
    const char* text;
    const char* shown;  // UTF-8
  } rows[] = {
      {"a\rb", "a\nb"},       {"a\r\nb", "a\nb"},         {"a\n\rb", "a\nb"},
      {"a\r\rb", "a\n\nb"},   {"a\nb\n", "a\nb\n"},       {"\xC4nderung \x80", "\u00C4nderung \u20AC"},
      {"<b>x</b>", "<b>x</b>"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(DisplayText(r.text), QString::fromUtf8(r.shown));
  }
}

using testing::OnBox;

TEST(QtMessageServiceTest, ShowsTheTextAndReportsTheButton) {
  struct Row {
    const char* name;
    MessageButtons buttons;
    std::function<void(QMessageBox*)> close;
    MessageAnswer answer;
  } rows[] = {
      {"No of three", MessageButtons::YesNoAbort, [](QMessageBox* b) { b->button(QMessageBox::No)->click(); },
       MessageAnswer::No},
      {"Abort of three", MessageButtons::YesNoAbort, [](QMessageBox* b) { b->button(QMessageBox::Abort)->click(); },
       MessageAnswer::Abort},
      {"Yes of two", MessageButtons::YesNo, [](QMessageBox* b) { b->button(QMessageBox::Yes)->click(); },
       MessageAnswer::Yes},
      {"Ok", MessageButtons::Ok, [](QMessageBox* b) { b->button(QMessageBox::Ok)->click(); }, MessageAnswer::Ok},
      {"Escape of two", MessageButtons::YesNo, [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); },
       MessageAnswer::No},
      {"Escape of three", MessageButtons::YesNoAbort, [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); },
       MessageAnswer::Abort},
  };
  QApplication::setApplicationName("Lumaro");
  QtMessageService service;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    QString shown, title;
    Qt::TextFormat format = Qt::AutoText;
    OnBox([&](QMessageBox* box) {
      shown = box->text();
      title = box->windowTitle();
      format = box->textFormat();
      r.close(box);
    });
    EXPECT_EQ(service.Show(MessageKind::Warning, "\xC4nderungen <b>speichern</b>?\rJa", r.buttons), r.answer);
    EXPECT_EQ(shown, QString::fromUtf8("\u00C4nderungen <b>speichern</b>?\nJa"));
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(title, "Lumaro");
  }
}

TEST(QtMessageServiceTest, ABoxShowsTheArrowUnderTheHourglassAndGivesItBack) {
  QtMessageService service;
  WaitCursor hourglass(service);
  Qt::CursorShape over_box = Qt::WaitCursor;
  OnBox([&](QMessageBox* box) {
    over_box = QGuiApplication::overrideCursor()->shape();
    box->button(QMessageBox::Ok)->click();
  });
  service.Show(MessageKind::Error, "Fehler", MessageButtons::Ok);
  EXPECT_EQ(over_box, Qt::ArrowCursor);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

// The standard buttons speak the program's language once Qt's translation for it is in.
TEST(QtMessageServiceTest, StandardButtonsInTheProgramsLanguage) {
  QTranslator* german = InstallQtTranslation("de");
  ASSERT_NE(german, nullptr) << "Qt's German translation is missing (package qt6-translations-l10n)";
  struct Row {
    MessageButtons buttons;
    QStringList shown;
  } rows[] = {
      {MessageButtons::YesNoAbort, {"&Ja", "&Nein", "Abbrechen"}},
      {MessageButtons::YesNo, {"&Ja", "&Nein"}},
      {MessageButtons::Ok, {"OK"}},
  };
  QtMessageService service;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.shown.join(' ').toStdString());
    QStringList shown;
    OnBox([&](QMessageBox* box) {
      for (QAbstractButton* b : box->buttons()) shown << b->text();
      box->buttons().front()->click();
    });
    service.Show(MessageKind::Confirmation, "Frage", r.buttons);
    shown.sort();
    QStringList expected = r.shown;
    expected.sort();
    EXPECT_EQ(shown, expected);
  }
  QDialogButtonBox dialog(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  EXPECT_EQ(dialog.button(QDialogButtonBox::Cancel)->text(), "Abbrechen");
  QCoreApplication::removeTranslator(german);
  delete german;

  EXPECT_EQ(InstallQtTranslation("xx"), nullptr) << "a language Qt has no texts for";
}

}  // namespace
}  // namespace platform::qt
