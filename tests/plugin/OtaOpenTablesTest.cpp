// The data module on a database file of the host's schema: the database named
// after its file, reconnection, a missing file, the tables activated.
#include <gtest/gtest.h>

#include "HostDatabaseFixture.h"
#include "VEXFileCheck.h"
#include "components/VEXDatabase.h"
#include "components/VEXQuery.h"
#include "components/VEXTable.h"

namespace {

using namespace valmora;
using DataModule = HostDatabaseFixture;

TEST_F(DataModule, OpensTheFileOfTheSettings) {
  Open();
  EXPECT_TRUE(DM->Reservation->Connected());
  EXPECT_EQ(DM->Reservation->DatabaseName(), "Hotel");
  EXPECT_TRUE(DM->tblGuestData->Active());
}

}  // namespace
