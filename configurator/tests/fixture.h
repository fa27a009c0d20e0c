// A configurator installation of its own for each test: a program folder with the device-type
// file and a language file, the settings, the tables, a project sorted with the German
// collation, and a message service that records every box.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "configurator/config.h"
#include "configurator/device_types.h"
#include "configurator/language.h"
#include "configurator/project.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"

namespace configurator::testing {

// Central modems (mode 0 and 1), stations, modules (entry 0: none).
inline const char* const kDeviceTypes =
    "[ZENTRALFUNKMODEM]\r\n"
    "TYP=ISM-Modem,0,0,0,0,0,0,0,0,6\r\n"
    "TYP=MoP-Modem,0,0,0,0,0,0,1,0,7\r\n"
    "[UNTERSTATIONEN]\r\n"
    "TYP=RM-Kompakt,4,2,2,1,0,0,9,2,11\r\n"
    "TYP=RM-Gro\xDF,8,8,4,4,0,0,1,0,12\r\n"
    "[ERWEITERUNGSMODULE]\r\n"
    "TYP=kein Modul,0,0,0,0,0,0,0,0,0\r\n"
    "TYP=DI-8,8,0,0,0,0,0,1,0,21\r\n"
    "TYP=AO-2,0,0,0,2,0,0,1,0,22\r\n";

inline const char* const kLanguage =
    "[GLOBALE-TEXTE]\r\n"
    "T01=OK\r\n"
    "[MAIN]\r\n"
    "T4=Projekt %s \xFC" "berschreiben?\r\n"
    "T5=%s.INI wurde in %s geschrieben.\r\n"
    "[FEHLER]\r\n"
    "T1=Sprachdatei fehlt\r\n"
    "T8=Datei nicht geschrieben\r\n"
    "T13=Ger\xE4tetyp unbekannt\r\n"
    "T14=Ger\xE4tetabelle leer\r\n"
    "T15=Zugriff verweigert\r\n";

class ConfiguratorTest : public ::testing::Test {
 protected:
  ConfiguratorTest() {
    dir.Write("Brindel.FML", kDeviceTypes);
    dir.Write("D.spr", kLanguage);
    texts.SetTextFile(dir / "D.spr");
    config = std::make_unique<TConfig>(dir.Path());
    LoadDeviceTables(tables, dir / "Brindel.FML", messages);
    project = std::make_unique<TProject>(*config, tables, messages, TCollation("de_DE.UTF-8"));
  }

  // A new station as the station dialog leaves it, address marked used.
  std::unique_ptr<TFuMo> Station(const std::string& name, int32_t address, int32_t type = 0) {
    auto st = std::make_unique<TFuMo>(project->Addresses());
    st->Name = name;
    st->Address = address;
    st->DeviceType = tables.Stations.Entries[size_t(type)];
    project->Addresses().SetFree(address, false);
    return st;
  }
  static TWert Channel(const char* kind, const char* name, const char* unit = "", double faktor = 0, double offset = 0,
                       int32_t nks = 0) {
    TWert w;
    InitChannel(w, name, kind);
    w.Einheit = unit;
    w.Faktor = faktor;
    w.Offset = offset;
    w.NKs = nks;
    return w;
  }
  TStationNode* Root(const std::string& name = "Zentrale", int32_t type = 1) {
    auto zfm = std::make_unique<TZFM>();
    zfm->Name = name;
    zfm->DeviceType = tables.Central.Entries[size_t(type)];
    return project->Tree.AddRoot(name, std::move(zfm));
  }
  TStationNode* Add(TStationNode* parent, std::unique_ptr<TFuMo> st) {
    std::string name = st->Name;
    return project->Tree.AddChild(parent, name, std::move(st));
  }

  // Stations on all three levels, a relay with modules, channels of every kind, umlauts and
  // the factors 0, 1, 0.1 and -0.25. Added out of order; the sort puts them right.
  void BuildSampleProject() {
    TStationNode* root = Root("Zentrale S\xFC" "d");
    TZFM* zfm = root->CentralModem();
    zfm->Port = "COM2";
    zfm->BaudRate = serial::br19200;
    zfm->Parity = serial::prEven;
    zfm->DataBits = serial::dbSeven;
    zfm->StopBits = serial::sbTwoStopBits;
    zfm->ExtraWait = 50;

    auto pumpwerk = Station("Pumpwerk", 5, 1);
    pumpwerk->Relay = true;
    pumpwerk->ModuleCount = 2;
    pumpwerk->Modules[0] = tables.Modules.Entries[1];
    pumpwerk->Modules[1] = tables.Modules.Entries[2];
    pumpwerk->Channels = {Channel("AA", "Stellwert", "%", -0.25, 100, 1), Channel("AA", "Sollwert", "m\xB3/h", 1, 0, 0),
                          Channel("BE", "St\xF6rung")};
    Add(root, std::move(pumpwerk));

    auto brunnen = Station("Brunnen", 3);
    brunnen->OnlineCheck = 1;
    brunnen->ExtraWait = 120;
    brunnen->Channels = {Channel("AA", "AO1"),
                         Channel("AE", "Pegel", "m", 0.1, 0, 2),
                         Channel("AE", "Temperatur", "\xB0" "C", 0.1, -50, 1),
                         Channel("BA", "Pumpe ein", "", 1),
                         Channel("BA", "DO2"),
                         Channel("BE", "DI1"),
                         Channel("BE", "DI2")};
    TStationNode* brunnenNode = Add(root, std::move(brunnen));

    auto hoch = Station("Hochbeh\xE4lter", 12);
    TStationNode* hochNode = Add(brunnenNode, std::move(hoch));
    Add(hochNode, Station("Wei\xDF" "enbach", 40));
    Add(hochNode, Station("\xD6lm\xFChle", 41, 1));
    Add(root, Station("\xC4rztehaus", 7));
    project->Tree.AlphaSort(project->Collation());
  }

  platform::testing::TempDir dir;
  platform::testing::RecordingMessages messages_service;
  TLanguageTexts texts{""};
  TMessages messages{texts, messages_service};
  std::unique_ptr<TConfig> config;
  TDeviceTables tables;
  std::unique_ptr<TProject> project;
};

// The test data folder of the sources.
inline std::string DataFile(const std::string& name) { return std::string(QAR_CONFIGURATOR_TEST_DATA) + "/" + name; }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace configurator::testing
