// The host's reservation database, made by the host's own schema in a scratch
// folder that the settings name, and a data module opened on it as the dialog
// opens it at the start of a call.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "OtaDataCheck.h"
#include "OtaDataModule.h"
#include "OtaOpenTables.h"
#include "ReservationDatabase.h"
#include "plugin/SettingsFixture.h"
#include "support/ScratchDir.h"

class HostDatabaseFixture : public SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    valmora::ResetModuleState();
    UseFile("Hotel.vex");
    lodgemark::CreateReservationDatabase(Dir / "Hotel.vex");
    DM = std::make_unique<valmora::TDM>(nullptr);
  }
  void TearDown() override {
    DM.reset();
    SettingsFixture::TearDown();
  }

  // Points the settings at the file Name of the scratch folder.
  void UseFile(const std::string& Name) {
    auto& key = HostKey("DataDirectory");
    key.WriteString("DataDir", Dir.Path());
    key.WriteString("DataBaseFileName", Name);
  }

  // What the dialog does when it is created.
  void Open() {
    valmora::OpenReservationDatabase(*DM);
    valmora::SetTablesActive(*DM, true);
  }

  testsupport::ScratchDir Dir;
  std::unique_ptr<valmora::TDM> DM;
};
