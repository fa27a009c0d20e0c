// The demo's example network is a file the configurator writes: read and written again by it,
// it comes out byte for byte the same.
#include <gtest/gtest.h>

#include "configurator/tests/fixture.h"

namespace host {
namespace {

class DemoNetworkTest : public configurator::testing::ConfiguratorTest {};

TEST_F(DemoNetworkTest, ConfiguratorWritesTheDemoNetworkAsItIs) {
  const std::string original = configurator::testing::ReadFile(DEMO_INI);
  ASSERT_FALSE(original.empty());
  dir.Write("Demo.INI", original);
  project->ProjectPath = dir / "Demo";
  ASSERT_TRUE(project->LoadProject());
  EXPECT_TRUE(messages_service.Texts().empty());  // every device type was known
  project->ProjectPath = dir / "Again";
  ASSERT_TRUE(project->SaveProject());
  EXPECT_EQ(dir.Read("Again.INI"), original);
}

}  // namespace
}  // namespace host
