// A registry in memory and a known Documents folder for the plug-in's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "registry/Registry.h"

class SettingsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_DOCUMENTS_DIR")) FOldDocs = old;
    ::setenv("XDG_DOCUMENTS_DIR", "/home/clerk/Documents", 1);
    Store = std::make_shared<reg::MemoryStore>();
    reg::SetCurrentUserStore(Store);
  }
  void TearDown() override {
    reg::SetCurrentUserStore(nullptr);
    if (FOldDocs)
      ::setenv("XDG_DOCUMENTS_DIR", FOldDocs->c_str(), 1);
    else
      ::unsetenv("XDG_DOCUMENTS_DIR");
  }

  // Writes values as the host would, below \Software\Lodgemark\<key>.
  reg::TRegistry& HostKey(const std::string& key) {
    FRegistry = std::make_unique<reg::TRegistry>(Store);
    EXPECT_TRUE(FRegistry->OpenKey("\\Software\\Lodgemark\\" + key, true));
    return *FRegistry;
  }

  std::shared_ptr<reg::MemoryStore> Store;

 private:
  std::unique_ptr<reg::TRegistry> FRegistry;
  std::optional<std::string> FOldDocs;
};
