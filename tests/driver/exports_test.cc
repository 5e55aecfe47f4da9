// The driver through the exports a host finds by name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hosted_driver.h"
#include "testing/case_file.h"

namespace vornlink {
namespace {

namespace fs = std::filesystem;

// A log and no DMS; the worker's first pass would come in ten minutes.
class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.WriteSettings(testing::DmsSetup(), "600");
    ASSERT_TRUE(host_.Load());
    ASSERT_EQ(api_.execute_service(), 1);
  }

  void WriteIni(const std::string& text) { testing::WriteBytes(host_.File("ini"), text); }
  void Forward(const std::string& trans_no, const char* quantity, const char* fluid_key = "4") {
    api_.forward_transaction2(trans_no.c_str(), "123456.A", "140604", "111030", "7", "F04", "12",
                              fluid_key, "Default Oil", "DEF-1", quantity, "0");
  }

  testing::HostedDriver host_;
  const DriverApi& api_ = host_.api();
};

// The gates in order: the first that refuses decides, no later one runs (validation logs "IJV:").
TEST_F(ExportsTest, GatesRefuseInOrder) {
  const std::vector<testing::TextCase> cases =
      testing::ReadCases(VORNLINK_TEST_DATA_DIR, "gates.txt");
  ASSERT_EQ(cases.size(), 12u);
  int trans_no = 0;
  for (const testing::TextCase& c : cases) {
    SCOPED_TRACE(c.where);
    WriteIni("[ForwardTransaction]\n" + c.fields[0] + "\n");
    const size_t before = host_.CacheLines().size();
    Forward(std::to_string(++trans_no), c.fields[1].c_str());
    EXPECT_EQ(host_.CacheLines().size(), before + (c.fields[2] == "1" ? 1 : 0));
    EXPECT_TRUE(host_.Logged(c.fields[3])) << host_.Log();
  }
  EXPECT_FALSE(host_.Logged("IJV:")) << host_.Log();
  // The start and the stop write the driver's lines.
  EXPECT_EQ(api_.properties(), 0);
  ASSERT_EQ(api_.stop_service(), 0);
  const std::string module = host_.module_path();
  EXPECT_EQ(testing::Missing(host_.Log(), {"-.-" + module + " is loaded at [0x",
                                           "] v[1.00] logflags[+cdhinprst] maxlines[100000]",
                                           "-.-OS: ", "-.-" + module + " is unloaded"}),
            "");
}

// Fluid name and part number from the INI, else from the call; a line break forges no log entry.
TEST_F(ExportsTest, FluidLookupsAndHostTexts) {
  WriteIni("[FluidName]\n3=ATF\n5=Gear oil\n[FluidPartNo]\n3=ATF-99\n6=PN-6\n");
  Forward("1", "1", "3");
  Forward("2", "1", "5");
  Forward("3", "1", "6");
  api_.forward_transaction("4", "123456.A", "140604", "111030", "7", "F04", "12", "9", "Motor Oil",
                           "2.5", "1");
  api_.forward_transaction2(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, "1", nullptr);
  const std::string head = "123456.A,140604,111030,7,F04,12,";
  std::vector<std::string> lines = host_.CacheLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("1," + head + "3,ATF,ATF-99,1,0,0,", 0), 0u);
  EXPECT_EQ(lines[1].rfind("2," + head + "5,Gear oil,DEF-1,1,0,0,", 0), 0u);
  EXPECT_EQ(lines[2].rfind("3," + head + "6,Default Oil,PN-6,1,0,0,", 0), 0u);
  EXPECT_EQ(lines[3].rfind("4," + head + "9,Motor Oil,Motor Oil,2.5,1,0,", 0), 0u);
  EXPECT_EQ(lines[4].rfind(",,,,,,,,,,1,,0,", 0), 0u);

  WriteIni("[ForwardTransaction]\nEnable=0\n");
  api_.forward_transaction2("5\n2026-01-01 00:00:00-.-forged", "1\r\n.A", "", "", "", "", "", "",
                            "", "", "1", "");
  EXPECT_TRUE(
      host_.Logged("ForwardTransaction TransNo[5 2026-01-01 00:00:00-.-forged] JobNo[1  .A]"));
  EXPECT_FALSE(host_.Logged("\n2026-01-01 00:00:00-.-forged"));
}

#ifndef _WIN32
// A host that loads the module by a relative path and then changes folder.
TEST_F(ExportsTest, RelativeModulePathStaysTheModulesFolder) {
  host_.Unload();
  const fs::path before = fs::current_path();
  const std::string copy = host_.dir().File("sub");
  fs::create_directory(copy);
  fs::copy_file(VORNLINK_MODULE_FILE, copy + "/Vornlink.so");
  fs::current_path(copy);
  std::string error;
  DriverApi api;
  std::unique_ptr<LoadedModule> module = LoadDriver("./Vornlink.so", &api, &error);
  ASSERT_NE(module, nullptr) << error;
  fs::current_path(host_.dir().path());
  api.forward_transaction2("1", "123456.A", "", "", "", "", "", "", "", "", "1", "");
  fs::current_path(before);
  EXPECT_TRUE(testing::FileExists(copy + "/Vornlink.$$$"));
  EXPECT_FALSE(testing::FileExists(host_.File("$$$")));
}
#endif

}  // namespace
}  // namespace vornlink
