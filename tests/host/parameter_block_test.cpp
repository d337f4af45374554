// Options of the command line land at the parameter block's offsets; block
// files of the wrong size are refused.
#include "parameter_block.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host_options.h"

namespace tk571::host {
namespace {

ParameterBlock BlockFrom(const std::vector<std::string_view>& args) {
  const HostOptionsResult parsed = ParseHostOptions(args);
  EXPECT_EQ(parsed.error, "");
  ParameterBlock block(TK571_PDB_SIZE, 0xEE);
  ApplyBlockOptions(parsed.options.block, block);
  return block;
}

struct ByteCase {
  std::vector<std::string_view> args;
  std::size_t offset;
  uint8_t value;
};

const ByteCase kByteCases[] = {
    {{"--port", "1"}, TK571_PDB_PORT, 0},
    {{"--port", "Com16"}, TK571_PDB_PORT, 15},
    {{"--port", "com3"}, TK571_PDB_PORT, 2},
    {{"--baud", "110"}, TK571_PDB_BAUD_INDEX, 0},
    {{"--baud", "9600"}, TK571_PDB_BAUD_INDEX, 6},
    {{"--baud", "19200"}, TK571_PDB_BAUD_INDEX, 8},
    {{"--baud", "256000"}, TK571_PDB_BAUD_INDEX, 14},
    {{"--data-bits", "4"}, TK571_PDB_DATA_BITS_CODE, 0},
    {{"--data-bits", "7"}, TK571_PDB_DATA_BITS_CODE, 3},
    {{"--data-bits", "8"}, TK571_PDB_DATA_BITS_CODE, 4},
    {{"--parity", "none"}, TK571_PDB_PARITY_CODE, 0},
    {{"--parity", "odd"}, TK571_PDB_PARITY_CODE, 1},
    {{"--parity", "EVEN"}, TK571_PDB_PARITY_CODE, 2},
    {{"--parity", "mark"}, TK571_PDB_PARITY_CODE, 3},
    {{"--parity", "s"}, TK571_PDB_PARITY_CODE, 4},
    {{"--stop-bits", "1"}, TK571_PDB_STOP_BITS_CODE, 0},
    {{"--stop-bits", "1.5"}, TK571_PDB_STOP_BITS_CODE, 1},
    {{"--stop-bits", "2"}, TK571_PDB_STOP_BITS_CODE, 2},
    {{"--debug"}, TK571_PDB_DEBUG_ENABLED, 1},
    {{"--log-errors"}, TK571_PDB_LOG_ERRORS, 1},
    {{"--log-trace"}, TK571_PDB_LOG_TRACE, 1},
    {{"--write-retries", "10"}, TK571_PDB_WRITE_RETRIES, 10},
};

TEST(ParameterBlock, EachOptionWritesItsByteAndNothingElse) {
  for (const ByteCase& c : kByteCases) {
    SCOPED_TRACE(std::string(c.args[0]) + " " + std::string(c.args.size() > 1 ? c.args[1] : ""));
    const ParameterBlock block = BlockFrom(c.args);
    EXPECT_EQ(block[c.offset], c.value);
    for (std::size_t i = 0; i < block.size(); ++i) {
      if (i != c.offset && block[i] != 0xEE) {
        ADD_FAILURE() << "byte " << i << " changed too";
        break;
      }
    }
  }
}

TEST(ParameterBlock, NoOptionsLeaveTheBlockAsItWas) {
  const ParameterBlock block = BlockFrom({"--tags", "t.txt", "--duration", "5s"});
  EXPECT_EQ(block, ParameterBlock(TK571_PDB_SIZE, 0xEE));
}

TEST(ParameterBlock, DevicesInUseGetTheTypeAndItsNameOthersBecomeEmpty) {
  const ParameterBlock block = BlockFrom({"--devices", "1,2,99"});
  const auto entry = [](int device) {
    return TK571_PDB_ENTRIES + static_cast<std::size_t>(device) * TK571_PDB_ENTRY_SIZE;
  };
  for (int device = 0; device < 100; ++device) {
    SCOPED_TRACE(device);
    const std::size_t e = entry(device);
    uint32_t number;
    std::memcpy(&number, &block[e + TK571_PDB_ENTRY_DEVICE_NUMBER], 4);
    EXPECT_EQ(number, static_cast<uint32_t>(device));
    const bool used = device == 1 || device == 2 || device == 99;
    EXPECT_EQ(block[e + TK571_PDB_ENTRY_TYPE_CODE], used ? 0 : 1);
    const std::string name(reinterpret_cast<const char*>(&block[e + TK571_PDB_ENTRY_TYPE_NAME + 1]),
                           block[e + TK571_PDB_ENTRY_TYPE_NAME]);
    EXPECT_EQ(name, used ? "TK571" : "\xCE\xDE\xD0\xA7");
    // The rest of the entry (reserved words and area) is the block's.
    EXPECT_EQ(block[e + 52], 0xEE);
    EXPECT_EQ(block[e + 254], 0xEE);
  }
  EXPECT_EQ(DevicesInUse(block), (std::vector<int>{1, 2, 99}));
  EXPECT_EQ(block[TK571_PDB_PORT], 0xEE);
}

TEST(ParameterBlock, DescriptionReadsTheSerialSettingsAndDevices) {
  ParameterBlock block = BlockFrom({"--port", "2", "--baud", "19200", "--data-bits", "8",
                                    "--parity", "none", "--stop-bits", "1.5", "--devices", "3,7"});
  EXPECT_EQ(DescribeBlock(block), "Com2 19200 8N1.5, devices 3 7");
}

class BlockFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tk571-host-pdb-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::remove((dir_ + "/block").c_str());
    std::remove(dir_.c_str());
  }
  void WriteBytes(std::size_t size) {
    std::ofstream out(dir_ + "/block", std::ios::binary);
    out << std::string(size, '\x01');
  }
  std::string dir_;
};

TEST_F(BlockFileTest, SavedBlockLoadsByteForByte) {
  ParameterBlock block(TK571_PDB_SIZE);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  std::string error;
  ASSERT_TRUE(SaveBlockFile(dir_ + "/block", block, &error)) << error;
  const std::optional<ParameterBlock> loaded = LoadBlockFile(dir_ + "/block", &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(*loaded, block);
}

TEST_F(BlockFileTest, FilesOfAnyOtherSizeAreRefused) {
  for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{TK571_PDB_SIZE - 1},
                           std::size_t{TK571_PDB_SIZE + 1}}) {
    SCOPED_TRACE(size);
    WriteBytes(size);
    std::string error;
    EXPECT_FALSE(LoadBlockFile(dir_ + "/block", &error));
    EXPECT_EQ(error, dir_ + "/block holds " + std::to_string(size) +
                         " bytes; a parameter block has 26508");
  }
  std::string error;
  EXPECT_FALSE(LoadBlockFile(dir_ + "/missing", &error));
  EXPECT_EQ(error.rfind("cannot open " + dir_ + "/missing", 0), 0u);
}

}  // namespace
}  // namespace tk571::host
