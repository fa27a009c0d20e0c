// The box of ostrel-box on the offscreen platform: what the host's failure message looks like.
#include "host/box/show_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include "platform/qt/testing/on_box.h"

namespace host::box {
namespace {

TEST(ShowBoxTest, OneErrorBoxWithTheCaptionAsTitleAndTheTextInLines) {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  platform::qt::testing::OnBox([&](QMessageBox* box) {
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = int(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  ShowBox("Error", "OPC-Server could not be started!\rErr= -$0D\rMsg= Datei f\xFCr <ZFM1> fehlt");
  EXPECT_EQ(title, "Error");
  EXPECT_EQ(text, QString::fromUtf8("OPC-Server could not be started!\nErr= -$0D\nMsg= Datei f\u00FCr <ZFM1> fehlt"));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, 1);
}

}  // namespace
}  // namespace host::box
