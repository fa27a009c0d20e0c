#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include "configurator/station_editor.h"
#include "configurator/tests/gui/gui_fixture.h"
#include "configurator/tests/jpeg_writer.h"
#include "configurator/windows/about_box.h"
#include "configurator/windows/picture.h"
#include "configurator/windows/project_name_dialog.h"
#include "configurator/windows/qt_text.h"
#include "configurator/windows/station_dialog.h"
#include "configurator/windows/zfm_dialog.h"
#include "configurator/zfm_editor.h"

namespace configurator::windows {
namespace {

using testing::OnModal;
using testing::RecordingShell;
using testing::Type;

// The core of an installation with the language file switched on, as after the first tick.
class DialogTest : public ::testing::Test, public configurator::testing::Installation {
 protected:
  DialogTest() : core(StartCore()) { core->SwitchLanguage(); }
  TProject& Project() { return core->Project; }
  TStationNode* Root(int type = 1) {
    auto zfm = std::make_unique<TZFM>();
    zfm->Name = "Zentrale";
    zfm->DeviceType = core->Tables.Central.Entries[size_t(type)];
    return Project().Tree.AddRoot("Zentrale", std::move(zfm));
  }
  TStationNode* Station(TStationNode* parent, const std::string& name, int32_t address) {
    auto st = std::make_unique<TFuMo>(Project().Addresses());
    st->Name = name;
    st->Address = address;
    Project().Addresses().SetFree(address, false);
    return Project().Tree.AddChild(parent, name, std::move(st));
  }

  std::unique_ptr<TConfiguratorCore> core;
};

TEST_F(DialogTest, CentralModemDialogLaysOutItsSettingBoxesInTheLabelRows) {
  Root()->CentralModem()->Port = "COM12";
  Project().CurrentNode = Project().Tree.Root();
  TZFMEditor editor(Project(), {});
  TfrmZFM dialog(nullptr, editor, core->Tables.Central);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  EXPECT_EQ(Cp(dialog.windowTitle()), "Zentralfunkmodem einrichten");
  EXPECT_EQ(dialog.lblPort->text(), "Serielle Schnittstelle:");
  EXPECT_EQ(dialog.GroupBox4->title(), "RS232-Schnittstelle");
  const int row = dialog.lblBaud->y() - dialog.lblPort->y();
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(dialog.cbSettings[size_t(i)]->geometry(),
              dialog.cbComPort->geometry().translated(0, (i + 1) * row));
    EXPECT_TRUE(dialog.cbSettings[size_t(i)]->isVisible());
  }
  EXPECT_EQ(row, 24);
  EXPECT_EQ(dialog.cbSettings[2]->currentText(), "None");
  EXPECT_EQ(dialog.cbComPort->currentText(), "COM12") << "a port beyond COM8 stays chosen";
  EXPECT_TRUE(dialog.rbMode[1]->isChecked());
  EXPECT_FALSE(dialog.rbMode[1]->isEnabled());

  dialog.editName->clear();
  dialog.btnOK->click();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Bitte einen Namen f\xFCr das Zentralfunkmodem eingeben."});
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(dialog.isVisible());

  dialog.editName->setText("Mitte");
  dialog.cbSettings[0]->setFocus();
  Type(Qt::Key_Down);  // 9600 -> 14400
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(editor.Object().Name, "Mitte");
  EXPECT_EQ(editor.Object().BaudRate, serial::br14400);
  EXPECT_EQ(editor.Object().Port, "COM12");
}

TEST_F(DialogTest, CentralModemDialogRestoresARefusedType) {
  TStationNode* root = Root(1);
  Station(Station(root, "A", 1), "A1", 2);
  Project().CurrentNode = root;
  TZFMEditor editor(Project(), {});
  TfrmZFM dialog(nullptr, editor, core->Tables.Central);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  dialog.cbTyp->setFocus();
  Type(Qt::Key_Up);  // MoP -> ISM, mode 0
  EXPECT_EQ(dialog.cbTyp->currentIndex(), 1);
  EXPECT_TRUE(dialog.rbMode[1]->isChecked());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, platform::MessageKind::Information);
  Type(Qt::Key_Down);  // mode 2 is allowed
  EXPECT_TRUE(dialog.rbMode[2]->isChecked());
}

TEST_F(DialogTest, StationDialogOpensModuleSlotsOneByOne) {
  Root();
  TStationEditor editor(Project(), false);
  TfrmFuMo dialog(nullptr, editor);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  EXPECT_EQ(Cp(dialog.windowTitle()), "Funkmodem einrichten");
  EXPECT_EQ(dialog.editName->text(), "Station");
  EXPECT_EQ(dialog.lblModule[0]->text(), "Zusatzmodul &1:");
  EXPECT_EQ(dialog.cbAdresse->currentText(), "1");
  EXPECT_TRUE(dialog.cbModule[0]->isEnabled());
  EXPECT_FALSE(dialog.cbModule[1]->isEnabled());
  EXPECT_TRUE(dialog.EditTO->isVisible());
  EXPECT_EQ(dialog.cbTyp->toolTip(), "Typ des Funkmodems");

  dialog.cbModule[0]->setFocus();
  Type(Qt::Key_Down);  // DI-8
  EXPECT_TRUE(dialog.cbModule[1]->isEnabled());
  EXPECT_TRUE(dialog.lblModule[1]->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), dialog.cbModule[1]);
  Type(Qt::Key_Tab, Qt::ShiftModifier);  // back to slot 1
  EXPECT_EQ(QApplication::focusWidget(), dialog.cbModule[0]);
  Type(Qt::Key_Up);  // no module again
  EXPECT_FALSE(dialog.cbModule[1]->isEnabled());

  dialog.cbTyp->setFocus();
  Type(Qt::Key_Down);  // RM-Gross: no extra wait
  EXPECT_FALSE(dialog.EditTO->isVisible());
  EXPECT_FALSE(dialog.lblTO2->isVisible());
  EXPECT_EQ(dialog.cbModule[0]->count(), 3) << "AI-4 does not fit this type";

  dialog.editName->setText("Brunnen");
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  std::unique_ptr<TFuMo> st = editor.TakeNewStation();
  EXPECT_EQ(st->Name, "Brunnen");
  EXPECT_EQ(st->DeviceType.Name, "RM-Gro\xDF");
  EXPECT_EQ(st->Channels.size(), 24u);
}

// The address list holds up to 255 addresses: its drop-down shows about twenty of them and
// scrolls, instead of covering the height of the screen.
TEST_F(DialogTest, TheAddressDropDownShowsAboutTwentyRows) {
  Root();
  TStationEditor editor(Project(), false);
  TfrmFuMo dialog(nullptr, editor);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_EQ(dialog.cbAdresse->count(), 255);
  dialog.cbAdresse->showPopup();
  QAbstractItemView* list = dialog.cbAdresse->view();
  ASSERT_TRUE(list->isVisible());
  const int row = list->visualRect(list->model()->index(0, 0)).height();
  ASSERT_GT(row, 0);
  const int rows = list->viewport()->height() / row;
  EXPECT_GE(rows, 18);
  EXPECT_LE(rows, 22);
  dialog.cbAdresse->hidePopup();
}

// A name the station cannot have keeps the dialog open with the name field to type in.
TEST_F(DialogTest, StationDialogKeepsAnUnusableNameOpen) {
  Station(Root(), "Brunnen", 4);
  struct Row {
    QString name;
    std::string box;
  } rows[] = {
      {"Brunnen", "Der Name ist schon vergeben.\rBrunnen"},
      {"BRUNNEN", "Der Name ist schon vergeben.\rBRUNNEN"},  // one key of the file's readers
      {"", "Bitte einen Namen f\xFCr das Funkmodem eingeben."},
      {"   ", "Bitte einen Namen f\xFCr das Funkmodem eingeben."},  // the file's readers trim it away
      {QString::fromUtf16(u"\u03A9mega \u20AC"), "Dieses Zeichen kann nicht gespeichert werden.\rU+03A9"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Cp("'" + r.name + "'"));
    boxes.boxes.clear();
    TStationEditor editor(Project(), false);
    TfrmFuMo dialog(nullptr, editor);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.editName->setFocus();
    Type(Qt::Key_A, Qt::ControlModifier);
    Type(Qt::Key_Delete);
    Type(r.name);
    dialog.cbTyp->setFocus();
    Type(Qt::Key_Return);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{r.box});
    for (const auto& box : boxes.boxes) EXPECT_EQ(box.kind, platform::MessageKind::Error);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.editName);
    dialog.btnAbbrechen->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(editor.TakeNewStation()->Name, "") << "nothing was stored";
  }
  EXPECT_EQ(Project().Tree.Root()->Children().size(), 1u);
}

TEST_F(DialogTest, CentralModemDialogRefusesANameItCannotStore) {
  Root()->CentralModem()->Name = "Zentrale";
  Project().CurrentNode = Project().Tree.Root();
  struct Row {
    QString name;
    std::string box;
  } rows[] = {
      {"  ", "Bitte einen Namen f\xFCr das Zentralfunkmodem eingeben."},
      {QString::fromUtf16(u"Zentrale \u03A9"), "Dieses Zeichen kann nicht gespeichert werden.\rU+03A9"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Cp(r.name));
    boxes.boxes.clear();
    TZFMEditor editor(Project(), {});
    TfrmZFM dialog(nullptr, editor, core->Tables.Central);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    dialog.editName->setFocus();
    Type(Qt::Key_A, Qt::ControlModifier);
    Type(r.name);
    Type(Qt::Key_Return);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{r.box});
    EXPECT_EQ(boxes.boxes[0].kind, platform::MessageKind::Error);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.editName);
    EXPECT_EQ(editor.Object().Name, "Zentrale");
  }
}

TEST_F(DialogTest, ProjectNameDialog) {
  const std::string path = "Der Projektname darf keinen Ordner enthalten.\r";
  struct Row {
    const char* name;
    QString typed;
    bool ok;
    QDialog::DialogCode result;
    std::string path;
    std::vector<std::string> boxes;
  } rows[] = {
      {"empty name", "", true, QDialog::Rejected, "alt", {"Bitte einen Projektnamen eingeben."}},
      {"a name", "Nord", true, QDialog::Accepted, "Nord", {}},
      {"cancel", "Nord", false, QDialog::Rejected, "", {}},
      {"a folder in front", "sub/proj", true, QDialog::Rejected, "alt", {path + "/"}},
      {"the system's own separator", "sub\\proj", true, QDialog::Rejected, "alt", {path + "\\"}},
      {"a character the settings cannot keep", QString::fromUtf16(u"Anlage \u03A9"), true, QDialog::Rejected, "alt",
       {"Dieses Zeichen kann nicht gespeichert werden.\rU+03A9"}},
      {"longer than a file name", QString(252, 'a'), true, QDialog::Rejected, "alt", {"Der Projektname ist zu lang."}},
      {"as long as a file name", QString(251, 'a'), true, QDialog::Accepted, std::string(251, 'a'), {}},
      {"umlauts count in the file system's encoding", QString(126, QChar(0xFC)), true, QDialog::Rejected, "alt",
       {"Der Projektname ist zu lang."}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    boxes.boxes.clear();
    Project().ProjectPath = "alt";
    TfrmProjektname dialog(nullptr, Project());
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Projektname");
    QApplication::setActiveWindow(&dialog);
    Type(r.typed);
    (r.ok ? dialog.btnOK : dialog.btnAbbrechen)->click();
    EXPECT_EQ(dialog.result(), r.result);
    EXPECT_EQ(dialog.isVisible(), r.ok && r.result == QDialog::Rejected);
    EXPECT_EQ(Project().ProjectPath, r.path);
    EXPECT_EQ(boxes.Texts(), r.boxes);
    for (const auto& box : boxes.boxes) EXPECT_EQ(box.kind, platform::MessageKind::Error);
    if (dialog.isVisible()) {
      EXPECT_EQ(QApplication::focusWidget(), dialog.Edit1);
    }
  }
}

TEST(AboutBox, ThePictureSetsTheSizeAndTheLinksGoToTheShell) {
  platform::testing::TempDir dir;
  ASSERT_TRUE(configurator::testing::WriteJpeg(dir / "info.jpg", 100, 260, [](int, int) { return 0x2040A0u; }));
  TAboutBox box;
  box.AppName = "Brindel";
  box.Url = "http://www.qar.example/";
  box.SetPicture(LoadPicture(dir / "INFO.JPG"));
  ASSERT_FALSE(box.Picture().isNull());
  RecordingShell shell;
  platform::testing::RecordingMessages boxes;

  TAboutWnd with(nullptr, box, shell, boxes, TFileVersion{2, 5, 0, 7});
  EXPECT_EQ(with.size(), QSize(349, 381));
  EXPECT_EQ(with.windowTitle(), QString::fromUtf8("About Brindel \u00AE"));
  EXPECT_EQ(with.lblVersion->text(), "2.5 (Build: 0.7)");
  EXPECT_FALSE(with.bvlOuter->isHidden());
  EXPECT_EQ(with.imgApp->size(), QSize(100, 260));

  TAboutWnd without(nullptr, TAboutBox(), shell, boxes, std::nullopt);
  EXPECT_EQ(without.width(), 297 - 48);
  EXPECT_TRUE(without.bvlOuter->isHidden());
  EXPECT_TRUE(without.lblVersionInfo->isHidden());
  EXPECT_GE(without.btnOk->y(), without.lblWarning->y() + without.lblWarning->height()) << "nothing is cut off";

  with.show();
  QTest::mouseClick(with.lblUrl, Qt::LeftButton);
  shell.answer = false;
  with.btnSysInfo->click();
  EXPECT_EQ(shell.opened, (std::vector<std::string>{"http://www.qar.example/", "MSInfo32.EXE"}));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Could not execute system information!"});
  EXPECT_EQ(boxes.waitDepth, 0);
}

TEST(TComComboBox, ListsTheSettingAndKeepsTheUsersChoice) {
  TComComboBox box(nullptr);
  box.SetComProperty(serial::cpParity);
  EXPECT_EQ(box.currentText(), "None");
  box.SetComProperty(serial::cpBaudRate);
  box.SetText("4800");
  EXPECT_EQ(box.currentText(), "4800");
  box.SetText("4711");
  EXPECT_EQ(box.currentText(), "4800");
  box.show();
  QApplication::setActiveWindow(&box);
  box.setFocus();
  Type(Qt::Key_Down);
  EXPECT_EQ(box.Text(), "9600");
  EXPECT_EQ(box.Select().BaudRate, serial::br9600);
}

}  // namespace
}  // namespace configurator::windows
