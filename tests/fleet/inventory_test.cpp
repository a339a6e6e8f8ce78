// Reading inventories: plain address lists and the scan's CSV, and the lines that are refused.
#include "fleet/inventory.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
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
      // The header in any case, as a spreadsheet may have saved it.
      {"ADDRESS,Model,Name\n192.168.1.20,zVK-QN6,a\n", {"192.168.1.20"}},
      // A location is any text someone on the module's network set: quoted, its line breaks and
      // quotes belong to its record and add no module.
      {"address,model,name,location\n"
       "192.168.1.20,zVK-QN6,a,\"\n127.0.0.1:45591\n#\"\n"
       "192.168.1.21,zVK-QN6,b,\"say \"\"\n10.9.9.9\n\"\"\"\r\n",
       {"192.168.1.20", "192.168.1.21"}},
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
      {"127.000.0.1\n", "line 1: '127.000.0.1' is not a module address"},
      {"10.0.0.010:502\n", "line 1: '10.0.0.010:502' is not a module address"},
      // Lines are counted across a record's quoted line breaks.
      {"10.0.0.1,\"a\nb\"\nplc-7\n", "line 3: 'plc-7' is not a module address"},
      {"10.0.0.1,\"Tank 4\n10.0.0.2\n", "line 1: a quoted field is never closed"},
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
}

TEST(fleetInventory, AFileThatCannotBeReadIsRefusedWithTheReason) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / "zvk-inventory-files";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string locked = (dir / "locked.txt").string();
  std::ofstream(locked) << "10.0.0.1\n";
  fs::permissions(locked, fs::perms::none);
  struct Case {
    std::string path;
    const char* reason;
  };
  std::vector<Case> cases = {
      {(dir / "missing.txt").string(), "No such file or directory"},
      {dir.string(), "it is a folder"},
  };
#ifndef _WIN32
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({fifo, "it is a pipe, not a plain file"});  // never opened: that would hang
  cases.push_back({"/dev/null", "it is a device, not a plain file"});
#endif
  // Whoever may read every file (root) reads it anyway.
  if (!std::ifstream(locked)) cases.push_back({locked, "Permission denied"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      LoadInventory(c.path);
      ADD_FAILURE() << "accepted";
    } catch (const InventoryError& e) {
      EXPECT_EQ(std::string(e.what()), "cannot read the inventory \"" + c.path + "\": " + c.reason);
    }
  }
  fs::permissions(locked, fs::perms::owner_all);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zvk
