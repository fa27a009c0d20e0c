// What only the windows can get wrong: captions and hints, clicks that reach the logic, the
// enabling of menu entries, the messages between the windows, and the dialogs' buttons.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "explorer/qt/browse_dlg.h"
#include "explorer/qt/explorer_dlg.h"
#include "explorer/qt/group_dlg.h"
#include "explorer/qt/inspec_dlg.h"
#include "explorer/qt/main_dlg.h"
#include "explorer/qt/prop_form.h"
#include "explorer/qt/qt_text.h"
#include "explorer/qt/server_dlg.h"
#include "explorer/tests/explorer_fixture.h"
#include "platform/com/class_registry.h"
#include "platform/registry.h"

namespace explorer::testing {
namespace {

using Names = std::vector<std::string>;
namespace com = platform::com;

// A double-click as the user gives it: the first click selects, the second opens.
void DoubleClick(QWidget* viewport, const QRect& item) {
  QTest::mouseClick(viewport, Qt::LeftButton, {}, item.center());
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, item.center());
}

class GuiTest : public ExplorerTest {
 protected:
  std::unique_ptr<TMainDlg> window;
  TExplorerDlg* explorer = nullptr;
  TInspecDlg* inspector = nullptr;
  TfrmProp* properties = nullptr;

  void SetUp() override {
    ExplorerTest::SetUp();
    main.reset();  // the window owns its own
    TMainModel::Options o;
    o.settings_path = dir / "Feddra.ini";
    o.apartment = &apartment;
    o.clock = &clock;
    window = std::make_unique<TMainDlg>(dialogs, messages, o);
    explorer = new TExplorerDlg(window->Model().Explorer());
    inspector = new TInspecDlg(window->Model().Inspector());
    properties = new TfrmProp(window.get());
    explorer->SetPropForm(properties);
    window->SetForms(explorer, inspector);
    fake->branches[""] = {"Zentrale"};
    fake->branches["Zentrale"] = {"Station1", "Station2"};
    fake->leaves["Zentrale.Station1"] = {"AE1", "BA1"};
    fake->leaves["Zentrale.Station2"] = {"AE1"};
    Know({"Zentrale.Station1.AE1", "Zentrale.Station1.BA1", "Zentrale.Station2.AE1"});
    window->show();
  }
  void TearDown() override {
    window.reset();
    ExplorerTest::TearDown();
  }
  TMainModel& Model() { return window->Model(); }
  void Connect() {
    window->ServerCombo()->setEditText(kopl::testing::kScriptedProgId);
    QTest::mouseClick(window->ConnectButton(), Qt::LeftButton);
    ASSERT_TRUE(Model().OPCServer().Active());
  }
  QTreeWidgetItem* Branch(const QString& top, const QString& child = {}) {
    QList<QTreeWidgetItem*> found = explorer->Tree()->findItems(child.isEmpty() ? top : child, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
  }
  static QStringList Column(QTreeWidget* view, int column) {
    QStringList texts;
    for (int i = 0; i < view->topLevelItemCount(); ++i) texts << view->topLevelItem(i)->text(column);
    return texts;
  }
};

TEST_F(GuiTest, CaptionsHintsAndShortcuts) {
  EXPECT_EQ(window->windowTitle(), "OPC Explorer");
  EXPECT_EQ(window->Pages()->tabText(0), "&Explorer");
  EXPECT_EQ(window->Pages()->tabText(1), "&Inspector");
  EXPECT_EQ(window->Pages()->currentIndex(), 0);
  EXPECT_EQ(window->ServerCombo()->toolTip(), "Select OPC Server");
  EXPECT_EQ(window->RemoteSelectButton()->toolTip(), "select OPC Server with OPCENUM.EXE");
  EXPECT_EQ(window->ConnectButton()->toolTip(), "Connect to server");
  EXPECT_EQ(window->DisconnectButton()->toolTip(), "Disconnect from server");
  EXPECT_EQ(window->LoadLastConfigButton()->text(), "Load last Config");
  EXPECT_EQ(window->LoadLastConfigButton()->toolTip(), "Load Config, that was active at last closing of Feddra");
  struct Row {
    const char* entry;
    const char* shortcut;
  } rows[] = {{"Open Last Saved", "Ctrl+L"}, {"New Session", ""}, {"Open...", "Ctrl+O"},
              {"Save...", "Ctrl+S"},        {"Exit", "Alt+F4"},  {"Info", "Ctrl+I"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.entry);
    QAction* action = window->MenuAction(r.entry);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->shortcut().toString(), r.shortcut);
  }
  EXPECT_EQ(explorer->parentWidget(), window->Pages()->widget(0));
  EXPECT_EQ(inspector->parentWidget(), window->Pages()->widget(1));
  EXPECT_EQ(inspector->windowTitle(), "OPC Inspector");
  EXPECT_EQ(Column(inspector->Groups(), 0), QStringList{"Default"});
  QStringList headers;
  for (int c = 0; c < inspector->ItemView()->columnCount(); ++c) headers << inspector->ItemView()->headerItem()->text(c);
  EXPECT_EQ(headers, (QStringList{"ItemId", "Accesspath", "Active", "Value", "HexVal", "Time", "Quality"}));
}

TEST_F(GuiTest, StatusPanelAndTimerFollowTheConnection) {
  EXPECT_EQ(window->StatusLabel(0)->text(), "not connected");
  EXPECT_TRUE(window->Timer()->isActive());
  EXPECT_EQ(window->Timer()->interval(), 1000);
  Model().TimerTick();  // the first tick finds no connection
  EXPECT_FALSE(window->Timer()->isActive());

  QTest::mouseClick(window->ConnectButton(), Qt::LeftButton);
  EXPECT_EQ(messages.Texts(), Names{"first select OPC Server"});

  fake->status.szVendorInfo = "Scripted vendor";
  Connect();
  EXPECT_TRUE(window->Timer()->isActive());
  Model().TimerTick();
  EXPECT_EQ(window->StatusLabel(0)->text(), kopl::testing::kScriptedProgId);
  EXPECT_EQ(window->StatusLabel(1)->text(), "running");
  EXPECT_EQ(window->StatusLabel(2)->text(), "Scripted vendor");
  EXPECT_EQ(inspector->StateLabel(0)->text(), "Default");
  EXPECT_EQ(inspector->StateLabel(3)->text(), "active");

  fake->ShutdownSink()->ShutdownRequest("bye");
  Run();
  EXPECT_EQ(window->ErrorLine()->text(), "Disconnect from Server");
  EXPECT_TRUE(window->ErrorLine()->styleSheet().contains("red"));
  EXPECT_EQ(window->StatusLabel(0)->text(), "not connected");
  EXPECT_EQ(window->StatusLabel(2)->text(), "");
  EXPECT_FALSE(window->Timer()->isActive());
  EXPECT_EQ(explorer->Tree()->topLevelItemCount(), 0);
}

TEST_F(GuiTest, ServerLineKeepsWhatIsTypedAndTheLastServer) {
  Connect();
  auto again = std::make_unique<TMainDlg>(dialogs, messages, TMainModel::Options{dir / "Feddra.ini", kLastConfigFile, &apartment, &clock});
  again->show();
  EXPECT_EQ(again->ServerCombo()->currentText(), kopl::testing::kScriptedProgId);
  // The list comes from the registry when it first opens.
  again->ServerCombo()->showPopup();
  EXPECT_EQ(again->ServerCombo()->count(), 1);
  EXPECT_EQ(again->ServerCombo()->itemText(0), kopl::testing::kScriptedProgId);
  EXPECT_EQ(again->ServerCombo()->currentText(), kopl::testing::kScriptedProgId);
  again->ServerCombo()->hidePopup();
}

TEST_F(GuiTest, BranchClicksShowTheirLeaves) {
  Connect();
  ASSERT_NE(Branch("Zentrale"), nullptr);
  QTreeWidgetItem* station1 = Branch("Zentrale", "Station1");
  ASSERT_NE(station1, nullptr);
  explorer->Tree()->setCurrentItem(station1);
  ASSERT_EQ(explorer->Leafs()->count(), 2);
  EXPECT_EQ(explorer->Leafs()->item(1)->text(), "BA1");
}

TEST_F(GuiTest, ItemsToInspectorArePostedThenAddedToThePickedGroup) {
  Connect();
  explorer->Tree()->setCurrentItem(Branch("Zentrale", "Station1"));
  // Nothing selected: nothing is posted.
  explorer->ItemsToInspector()->trigger();
  QCoreApplication::processEvents();
  EXPECT_TRUE(dialogs.asked.empty());

  explorer->Leafs()->item(0)->setSelected(true);
  explorer->Leafs()->item(1)->setSelected(true);
  dialogs.select_group = [](const Names& names) { return names.front(); };
  explorer->ItemsToInspector()->trigger();
  EXPECT_TRUE(dialogs.asked.empty());  // posted: handled after the menu command returned
  QCoreApplication::processEvents();
  EXPECT_EQ(dialogs.asked, Names{"SelectGroup"});
  EXPECT_EQ(Column(inspector->ItemView(), 0), (QStringList{"Zentrale.Station1.AE1", "Zentrale.Station1.BA1"}));
  EXPECT_EQ(Column(inspector->ItemView(), 3), (QStringList{"-", "-"}));

  // Every AE1 of the space, and the leaf list keeps its selection.
  explorer->Leafs()->setCurrentRow(0);
  explorer->IdenticalToInspector()->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(Column(inspector->ItemView(), 0), (QStringList{"Zentrale.Station1.AE1", "Zentrale.Station1.BA1",
                                                          "Zentrale.Station1.AE1", "Zentrale.Station2.AE1"}));
  EXPECT_FALSE(explorer->Leafs()->selectedItems().isEmpty());

  SendData("Default", {"Zentrale.Station1.BA1"}, {kopl::Variant::I4(255)});
  EXPECT_EQ(inspector->ItemView()->topLevelItem(1)->text(3), "255");
  EXPECT_EQ(inspector->ItemView()->topLevelItem(1)->text(4), "$ FF");
  EXPECT_EQ(inspector->ItemView()->topLevelItem(1)->text(6), "good");
}

TEST_F(GuiTest, GroupClicksShowTheirItems) {
  Connect();
  Model().Inspector().AddItems(Model().Inspector().SelectedGroup(), {"Zentrale.Station1.AE1"});
  dialogs.edit_group = [](kopl::tGroupStateRec& s) {
    s.Name = "Second";
    return true;
  };
  window->Pages()->setCurrentIndex(1);
  inspector->GroupPopup()->actions()[0]->trigger();  // "Add Group..."
  EXPECT_EQ(Column(inspector->Groups(), 0), (QStringList{"Default", "Second"}));
  EXPECT_EQ(inspector->Groups()->currentItem()->text(0), "Second");
  EXPECT_EQ(inspector->ItemView()->topLevelItemCount(), 0);

  QTreeWidget* groups = inspector->Groups();
  QTest::mouseClick(groups->viewport(), Qt::LeftButton, {}, groups->visualItemRect(groups->topLevelItem(0)).center());
  EXPECT_EQ(Model().Inspector().SelectedNode(), 0);
  EXPECT_EQ(Column(inspector->ItemView(), 0), QStringList{"Zentrale.Station1.AE1"});
  EXPECT_EQ(groups->topLevelItemCount(), 2);
}

TEST_F(GuiTest, ItemPopupIsEnabledOnlyWithAGroup) {
  Connect();
  Model().Inspector().AddItems(Model().Inspector().SelectedGroup(), {"Zentrale.Station1.AE1"});
  inspector->ItemView()->setCurrentItem(inspector->ItemView()->topLevelItem(0));
  inspector->ItemPopupPopup();
  for (QAction* a : inspector->ItemPopup()->actions()) EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  EXPECT_TRUE(inspector->ActiveAction()->isChecked());

  // Clicking "Active" takes the item off, and the row says so.
  inspector->ActiveAction()->trigger();
  EXPECT_EQ(inspector->ItemView()->topLevelItem(0)->text(2), " ");
  inspector->ItemPopupPopup();
  EXPECT_FALSE(inspector->ActiveAction()->isChecked());

  // A double-click on a row asks for a value to write.
  window->Pages()->setCurrentIndex(1);
  QTreeWidget* view = inspector->ItemView();
  QRect row = view->visualItemRect(view->topLevelItem(0));
  DoubleClick(view->viewport(), row);
  ASSERT_FALSE(dialogs.asked.empty());
  EXPECT_EQ(dialogs.asked.back(), "InputQuery Sync Write new Value / new Value");

  Model().Inspector().RemoveAllGroups();
  inspector->ItemPopupPopup();
  for (QAction* a : inspector->ItemPopup()->actions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  EXPECT_EQ(inspector->Groups()->topLevelItemCount(), 0);
  EXPECT_EQ(inspector->ItemView()->topLevelItemCount(), 0);
}

TEST_F(GuiTest, SessionCommandsShowTheInspector) {
  Connect();
  window->close();  // connected: the last configuration is kept
  ASSERT_TRUE(dir.Exists(kLastConfigFile));
  window->show();
  QTest::mouseClick(window->LoadLastConfigButton(), Qt::LeftButton);
  EXPECT_EQ(window->Pages()->currentIndex(), 1);
  EXPECT_EQ(window->ServerCombo()->currentText(), kopl::testing::kScriptedProgId);
  EXPECT_EQ(Column(inspector->Groups(), 0), QStringList{"Default"});
  EXPECT_EQ(inspector->Groups()->currentItem(), inspector->Groups()->topLevelItem(0));

  window->MenuAction("New Session")->trigger();
  EXPECT_EQ(window->ServerCombo()->currentText(), "");
  EXPECT_EQ(inspector->Groups()->topLevelItemCount(), 0);
  EXPECT_FALSE(Model().OPCServer().Active());

  // A failing command goes to the program's report, not into the loop.
  std::remove((dir / kLastConfigFile).c_str());
  QTest::mouseClick(window->LoadLastConfigButton(), Qt::LeftButton);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find(kLastConfigFile), std::string::npos);
}

TEST_F(GuiTest, PropertiesFormByDoubleClickClosesWithEscape) {
  fake->properties["Zentrale.Station1.BA1"] = {{5002, "Code", platform::com::VT_UI2, kopl::Variant::UI2(255)}};
  Connect();
  explorer->Tree()->setCurrentItem(Branch("Zentrale", "Station1"));
  explorer->Leafs()->setCurrentRow(1);
  // The form is modal: look at it, then close it with Escape, from inside its loop.
  QString caption;
  QStringList row;
  int hex_right = 0, hex_needed = 0, visible_right = 0;
  QTimer::singleShot(0, [&] {
    caption = properties->Box()->title();
    QTreeWidget* list = properties->List();
    if (QTreeWidgetItem* item = list->topLevelItem(0)) {
      for (int c = 0; c < 5; ++c) row << item->text(c);
    }
    // Where the HexValue column ends, what it needs, and how far the list shows.
    hex_right = list->header()->sectionViewportPosition(4) + list->header()->sectionSize(4);
    hex_needed = std::max(list->fontMetrics().horizontalAdvance(row.value(4)),
                          list->header()->fontMetrics().horizontalAdvance(QStringLiteral("HexValue")));
    visible_right = list->viewport()->width();
    QTest::keyClick(properties, Qt::Key_Escape);
  });
  QTimer::singleShot(5000, [&] { properties->reject(); });  // a safety net, not a wait
  QListWidget* leafs = explorer->Leafs();
  DoubleClick(leafs->viewport(), leafs->visualItemRect(leafs->item(1)));
  EXPECT_FALSE(properties->isVisible());
  EXPECT_EQ(caption, " Item Zentrale.Station1.BA1 ");
  EXPECT_EQ(row, (QStringList{"5002", "Code", "18 =UI2", "255", "$ FF"}));
  // The last column is on the form, as wide as its texts.
  EXPECT_LE(hex_right, visible_right);
  EXPECT_GE(properties->List()->header()->sectionSize(4), hex_needed);
}

// The inspector's "Add Item.." as the user works it, in the real browse dialog: each step
// gets the open dialog and ends it.
void OnBrowseDialog(ScriptedDialogs& dialogs, std::vector<std::function<void(TKoplDlgBrowse&)>> steps) {
  auto left = std::make_shared<std::vector<std::function<void(TKoplDlgBrowse&)>>>(std::move(steps));
  dialogs.browse_items = [left](kopl::TKoplBrowser& browser, std::vector<std::string>& ids, bool root) {
    QTimer::singleShot(0, [left] {
      auto* dlg = qobject_cast<TKoplDlgBrowse*>(QApplication::activeModalWidget());
      if (!dlg) return;
      if (left->empty()) return dlg->reject();
      auto step = left->front();
      left->erase(left->begin());
      step(*dlg);
      if (dlg->isVisible()) dlg->reject();  // a step that left it open
    });
    return BrowseItems(nullptr, browser, ids, root);
  };
}

QPushButton* Button(QDialog& dlg, const QString& text) {
  for (QPushButton* b : dlg.findChildren<QPushButton*>()) {
    if (b->text() == text) return b;
  }
  ADD_FAILURE() << "no button " << text.toStdString();
  return nullptr;
}

// Selects the list entry of that text in the browse dialog.
void Pick(TKoplDlgBrowse& dlg, const QString& text) {
  const QList<QListWidgetItem*> found = dlg.List()->findItems(text, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << text.toStdString();
  dlg.List()->setCurrentItem(found.front());
}

TEST_F(GuiTest, TheAddItemDialogLeavesTheExplorerWhereItWas) {
  fake->properties["Zentrale.Station1.AE1"] = {{5001, "Unit", platform::com::VT_BSTR, kopl::Variant::Str("bar")}};
  Connect();
  explorer->Tree()->setCurrentItem(Branch("Zentrale", "Station1"));
  window->Pages()->setCurrentIndex(1);
  OnBrowseDialog(dialogs, {
                              // The other station's AE1 added.
                              [](TKoplDlgBrowse& dlg) {
                                QTest::mouseClick(dlg.BackButton(), Qt::LeftButton);
                                Pick(dlg, "Station2");
                                QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
                                Pick(dlg, "AE1");
                                QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
                              },
                              // A filter and "Writable" tried, then given up.
                              [](TKoplDlgBrowse& dlg) {
                                dlg.Filter()->setText("RM_*");
                                QTest::mouseClick(dlg.Writable(), Qt::LeftButton);
                                QTest::mouseClick(Button(dlg, "&Cancel"), Qt::LeftButton);
                              },
                          });
  QAction* add_item = inspector->ItemPopup()->actions()[0];
  inspector->ItemPopupPopup();
  add_item->trigger();
  add_item->trigger();
  EXPECT_EQ(Column(inspector->ItemView(), 0), QStringList{"Zentrale.Station2.AE1"});

  // Station1 is still selected and shown: its leaves are what the explorer hands on.
  window->Pages()->setCurrentIndex(0);
  ASSERT_EQ(explorer->Leafs()->count(), 2);
  explorer->Leafs()->item(1)->setSelected(true);  // BA1
  dialogs.select_group = [](const Names& names) { return names.front(); };
  explorer->ItemsToInspector()->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(Column(inspector->ItemView(), 0), (QStringList{"Zentrale.Station2.AE1", "Zentrale.Station1.BA1"}));
  // and its write goes to Station1.
  dialogs.input_query = [](const std::string&, const std::string&, std::string& value) {
    value = "1";
    return true;
  };
  window->Pages()->setCurrentIndex(1);
  QTreeWidget* view = inspector->ItemView();
  DoubleClick(view->viewport(), view->visualItemRect(view->topLevelItem(1)));
  ASSERT_FALSE(fake->Group("Default")->writes.empty());
  const auto& written = fake->Group("Default")->writes.back();
  ASSERT_EQ(written.handles.size(), 1u);
  EXPECT_EQ(fake->Group("Default")->items.at(written.handles[0]).id, "Zentrale.Station1.BA1");

  // The properties of a leaf are Station1's too.
  window->Pages()->setCurrentIndex(0);
  QString caption;
  QTimer::singleShot(0, [&] {
    caption = properties->Box()->title();
    properties->reject();
  });
  QListWidget* leafs = explorer->Leafs();
  DoubleClick(leafs->viewport(), leafs->visualItemRect(leafs->item(0)));
  EXPECT_EQ(caption, " Item Zentrale.Station1.AE1 ");

  // The dialog's filter stayed in the dialog: a new connection shows the whole space.
  QTest::mouseClick(window->DisconnectButton(), Qt::LeftButton);
  fake->position.clear();  // as a new server object stands: at the root
  Connect();
  EXPECT_NE(Branch("Zentrale", "Station2"), nullptr);
  EXPECT_EQ(explorer->Leafs()->count(), 0);  // the root has no leaves of its own
  explorer->Tree()->setCurrentItem(Branch("Zentrale", "Station2"));
  EXPECT_EQ(explorer->Leafs()->count(), 1);
}

class DialogGuiTest : public GuiTest {};

TEST_F(DialogGuiTest, ServerSelectionOkNeedsAServer) {
  com::ServerRegistration r;
  r.clsid = *com::GuidFromString("{11111111-0000-0000-0000-000000000001}");
  r.prog_id = "Vendor.Both.1";
  r.readable_name = "Both kinds";
  r.categories = {com::CATID_OPCDAServer10, com::CATID_OPCDAServer20};
  platform::Registry reg;
  ASSERT_TRUE(com::RegisterServer(r, reg));

  TKoplServerBrowseDlg dlg(messages);
  EXPECT_EQ(dlg.windowTitle(), "Select OPC Server");
  EXPECT_TRUE(dlg.SearchButton()->isDefault());
  dlg.show();
  QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Rejected);

  dlg.show();
  QTest::mouseClick(dlg.SearchButton(), Qt::LeftButton);
  ASSERT_EQ(dlg.Tree()->topLevelItemCount(), 2);
  EXPECT_EQ(dlg.Tree()->topLevelItem(0)->text(0), "DA Servers 1.0");
  EXPECT_EQ(dlg.Tree()->topLevelItem(1)->text(0), "DA Servers 2.0");
  dlg.Tree()->setCurrentItem(dlg.Tree()->topLevelItem(1)->child(0));
  EXPECT_EQ(dlg.ServerName()->text(), "Vendor.Both.1");
  EXPECT_EQ(dlg.ClassId()->text(), "{11111111-0000-0000-0000-000000000001}");
  dlg.Tree()->setCurrentItem(dlg.Tree()->topLevelItem(0));
  EXPECT_EQ(dlg.ServerName()->text(), "");
  dlg.Tree()->setCurrentItem(dlg.Tree()->topLevelItem(0)->child(0));
  QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST_F(DialogGuiTest, BrowseDialogFilterEnterAndBranches) {
  kopl::TKoplBrowser& browser = Model().OPCServer().Browser();
  std::vector<std::string> ids;
  // Not connected: no dialog at all.
  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  EXPECT_FALSE(BrowseItems(nullptr, browser, ids, true));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  Connect();
  TKoplDlgBrowse dlg(browser, true);
  EXPECT_EQ(dlg.windowTitle(), "Open OPC Item");
  dlg.show();
  EXPECT_EQ(dlg.DataType()->currentText(), "EMPTY");
  EXPECT_EQ(dlg.PathField()->text(), "root");
  ASSERT_EQ(dlg.List()->count(), 1);

  // "&Open" on a branch enters it and keeps the dialog open.
  QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
  QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.PathField()->text(), "Station1");

  // Enter in the filter field applies the filter and keeps the dialog open.
  QApplication::setActiveWindow(&dlg);
  dlg.Filter()->setFocus();
  ASSERT_TRUE(dlg.Filter()->hasFocus());
  QTest::keyClicks(dlg.Filter(), "BA");
  QTest::keyClick(dlg.Filter(), Qt::Key_Return);
  EXPECT_TRUE(dlg.isVisible());
  ASSERT_EQ(dlg.List()->count(), 1);
  EXPECT_EQ(dlg.List()->item(0)->text(), "BA1");

  QTest::mouseClick(dlg.OpenButton(), Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.ItemIDs(), Names{"Zentrale.Station1.BA1"});
}

TEST_F(DialogGuiTest, GroupDialogRefusesBlankNamesAndBadNumbers) {
  TEditGroupDlg dlg(messages);
  EXPECT_EQ(dlg.windowTitle(), "Edit Group");
  dlg.State.UpdateRate = 500;
  dlg.State.Active = true;
  dlg.show();
  EXPECT_EQ(dlg.UpdateRate()->text(), "500");
  EXPECT_TRUE(dlg.Active()->isChecked());
  dlg.GroupName()->setText("   ");
  QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
  EXPECT_EQ(messages.beeps, 1);
  EXPECT_TRUE(dlg.isVisible());

  dlg.GroupName()->setText("Fast");
  dlg.UpdateRate()->setText("quick");
  QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
  EXPECT_TRUE(dlg.isVisible());
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("quick"), std::string::npos);

  dlg.UpdateRate()->setText("250");
  QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.State.Name, "Fast");
  EXPECT_EQ(dlg.State.UpdateRate, 250);
}

TEST_F(DialogGuiTest, GroupPickerSelectsTheFirstAndTakesADoubleClick) {
  TSelGroupDlg dlg({"Default", "Fast"});
  EXPECT_EQ(dlg.windowTitle(), "Items to Group");
  dlg.show();
  EXPECT_EQ(dlg.Picked(), "Default");
  QListWidget* list = dlg.List();
  DoubleClick(list->viewport(), list->visualItemRect(list->item(1)));
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.Picked(), "Fast");

  TSelGroupDlg none({});
  none.show();
  EXPECT_EQ(none.Picked(), "");
}

}  // namespace
}  // namespace explorer::testing
