// Reading inventories: plain address lists and the scan's CSV, and the lines that are refused.
#include "fleet/inventory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zvk {
namespace {

TEST(fleetInventory, ReadsAddressListsAndTheScansCsv) {
  struct Case {
    const char* text;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {"192.168.1.20\n192.168.1.21\n", {"192.168.1.20", "192.168.1.21"}},
      {"# plant A\n\n  192.168.1.20  \r\n\t\n# spare\n127.0.0.1:40001",
       {"192.168.1.20", "127.0.0.1:40001"}},
      {"address,model,name,location,firmware,mac,signal,mode\r\n"
       "192.168.1.20,zVK-QN6,a,Tank 4,V01.12,02:5A:51:36:00:01,-61dBm,Station\r\n"
       "\"192.168.1.21\",zVK-KM3,b,\"Line, 3\",V01.12,,,AP\r\n",
       {"192.168.1.20", "192.168.1.21"}},
      // The same address on two ports is two modules.
      {"127.0.0.1:40001\n127.0.0.1:40002\n", {"127.0.0.1:40001", "127.0.0.1:40002"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> labels;
    for (const InventoryEntry& e : ParseInventory(c.text)) labels.push_back(e.Label());
    EXPECT_EQ(labels, c.labels);
  }
  const InventoryEntry entry = ParseInventory("10.0.0.7:502\n").front();
  EXPECT_EQ(entry.host, "10.0.0.7");
  EXPECT_EQ(entry.port, 502);
}

TEST(fleetInventory, RefusesWhatIsNotAModuleWithTheLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"192.168.1.20\nplc-7.local\n", "line 2: 'plc-7.local' is not a module address"},
      {"192.168.1.256\n", "line 1: '192.168.1.256' is not a module address"},
      {"192.168.1\n", "line 1: '192.168.1' is not a module address"},
      {"192.168.1.2.3\n", "line 1: '192.168.1.2.3' is not a module address"},
      {"192.168.1.20:0\n", "line 1: '192.168.1.20:0' is not a module address"},
      {"192.168.1.20:65536\n", "line 1: '192.168.1.20:65536' is not a module address"},
      {"192.168.1.20:\n", "line 1: '192.168.1.20:' is not a module address"},
      {"1.2.3.-4\n", "line 1: '1.2.3.-4' is not a module address"},
      {"# a\n10.0.0.1\n10.0.0.2\n10.0.0.1\n", "line 4: 10.0.0.1 is listed twice"},
      {"", "no module listed"},
      {"# nothing\n\naddress,model\n", "no module listed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseInventory(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const InventoryError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
  EXPECT_THROW(LoadInventory(::testing::TempDir() + "no-such-inventory.txt"), InventoryError);
}

}  // namespace
}  // namespace zvk
