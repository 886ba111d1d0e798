#include "BaudRates.h"
#include "ConfigCRC.h"
#include "ConfigFile.h"
#include "IniFile.h"
#include "ScratchMount.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

namespace {

const char* const DefaultsFile = "[IP]\r\n"
                                 "GATEWAY=192.168.127.100\r\n"
                                 "NETMASK=255.255.255.0\r\n"
                                 "ADDRESS=192.168.127.10\r\n"
                                 "TCP_PORT=502\r\n"
                                 "[CHANNEL_0]\r\n"
                                 "SLAVE_ADDRESS=0\r\n"
                                 "BAUDRATE=115200\r\n"
                                 "PARITY=2\r\n"
                                 "STOPBITS=2\r\n"
                                 "TIMEOUT=100\r\n"
                                 "REPLIES=0\r\n"
                                 "IP_ADDRESS_0=192.168.127.1\r\n"
                                 "TCP_PORT_0=502\r\n"
                                 "IP_ADDRESS_1=192.168.127.2\r\n"
                                 "TCP_PORT_1=502\r\n"
                                 "ETH_RECV_TOUT=100\r\n"
                                 "ETH_CONN_TOUT=100\r\n"
                                 "[CHANNEL_1]\r\n"
                                 "SLAVE_ADDRESS=0\r\n"
                                 "BAUDRATE=115200\r\n"
                                 "PARITY=2\r\n"
                                 "STOPBITS=2\r\n"
                                 "TIMEOUT=100\r\n"
                                 "REPLIES=0\r\n"
                                 "IP_ADDRESS_0=192.168.127.1\r\n"
                                 "TCP_PORT_0=502\r\n"
                                 "IP_ADDRESS_1=192.168.127.2\r\n"
                                 "TCP_PORT_1=502\r\n"
                                 "ETH_RECV_TOUT=100\r\n"
                                 "ETH_CONN_TOUT=100\r\n";

bool SameBytes(const TModuleConfig& a, const TModuleConfig& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TModuleConfig Filled(uint8_t byte)
{
    TModuleConfig config;
    std::memset(&config, byte, sizeof config);
    return config;
}

class ConfigFileTest : public testing::Test {
protected:
    TModuleConfig LoadFrom(const std::string& content)
    {
        WriteBytes(Name, content);
        TModuleConfig config = Filled(0xAB);
        EXPECT_TRUE(LoadConfigFromFile(Name, config));
        return config;
    }

    TTempFolder Folder;
    std::string Name = Folder.File("module.ini");
};

TEST_F(ConfigFileTest, DefaultsSavedIntoANewFileGiveTheReferenceFile)
{
    const TModuleConfig defaults = LoadFrom("");
    const std::string fresh = Folder.File("fresh.ini");
    SaveConfigToFile(fresh, defaults);
    EXPECT_EQ(ReadBytes(fresh), DefaultsFile);
}

bool AllZero(const auto& bytes)
{
    return std::all_of(std::begin(bytes), std::end(bytes), [](uint8_t b) { return b == 0; });
}

// The defaults themselves are pinned by the reference file above.
TEST_F(ConfigFileTest, AFileWithOnlyTheIPSectionGivesDefaultChannelsAndZeroReservedBytes)
{
    const TModuleConfig config = LoadFrom("[IP]\r\nADDRESS=10.0.0.5\r\nTCP_PORT=1502\r\n");
    TModuleConfig expected = LoadFrom("");
    expected.Address = {10, 0, 0, 5};
    expected.TCPPort = 1502;
    EXPECT_TRUE(SameBytes(config, expected));
    EXPECT_TRUE(AllZero(config.Reserved1) && AllZero(config.Reserved2) && config.CRC == 0);
    EXPECT_TRUE(AllZero(config.Channels[0].Reserved) && AllZero(config.Channels[1].Reserved));
}

TEST_F(ConfigFileTest, AMissingFileIsReportedAndLeavesTheRecordAlone)
{
    const TModuleConfig before = Filled(0x5A);
    TModuleConfig config = before;
    EXPECT_FALSE(LoadConfigFromFile(Folder.File("absent.ini"), config));
    EXPECT_FALSE(LoadConfigFromFile(Folder.Path().string(), config));  // a folder is not a file
    EXPECT_TRUE(SameBytes(config, before));
}

struct TChannelKeyCase {
    const char* Line;
    uint16_t TChannelConfig::*Field;
    uint16_t Expected;
};

void PrintTo(const TChannelKeyCase& c, std::ostream* out)
{
    *out << '"' << c.Line << '"';
}

class ChannelKey : public ConfigFileTest, public testing::WithParamInterface<TChannelKeyCase> {};

TEST_P(ChannelKey, IsReadAsItsFieldOrItsDefault)
{
    const auto& c = GetParam();
    const TModuleConfig config = LoadFrom(std::string("[IP]\r\n[channel_1]\r\n") + c.Line + "\r\n");
    EXPECT_EQ(config.Channels[1].*c.Field, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, ChannelKey,
                         testing::Values(TChannelKeyCase{"BAUDRATE=9600", &TChannelConfig::BaudIndex, 4},
                                         TChannelKeyCase{"baudrate=9600", &TChannelConfig::BaudIndex, 4},
                                         TChannelKeyCase{"BAUDRATE=  9600  ", &TChannelConfig::BaudIndex, 4},
                                         TChannelKeyCase{"BAUDRATE=9601", &TChannelConfig::BaudIndex, 9},
                                         TChannelKeyCase{"BAUDRATE=", &TChannelConfig::BaudIndex, 9},
                                         TChannelKeyCase{"PARITY=1", &TChannelConfig::Parity, 1},
                                         TChannelKeyCase{"PARITY=3", &TChannelConfig::Parity, 0},
                                         TChannelKeyCase{"PARITY=-1", &TChannelConfig::Parity, 65535},
                                         TChannelKeyCase{"PARITY=", &TChannelConfig::Parity, 2},
                                         TChannelKeyCase{"STOPBITS=1", &TChannelConfig::StopBits, 0},
                                         TChannelKeyCase{"STOPBITS=2", &TChannelConfig::StopBits, 1},
                                         TChannelKeyCase{"STOPBITS=0", &TChannelConfig::StopBits, 1},
                                         TChannelKeyCase{"STOPBITS=3", &TChannelConfig::StopBits, 1},
                                         TChannelKeyCase{"STOPBITS=$1", &TChannelConfig::StopBits, 0},
                                         TChannelKeyCase{"TIMEOUT=0x64", &TChannelConfig::Timeout, 100},
                                         TChannelKeyCase{"TIMEOUT=$64", &TChannelConfig::Timeout, 100},
                                         TChannelKeyCase{"TIMEOUT=1e2", &TChannelConfig::Timeout, 100},
                                         TChannelKeyCase{"TIMEOUT=7", &TChannelConfig::Timeout, 7},
                                         TChannelKeyCase{"TIMEOUT= 7 ", &TChannelConfig::Timeout, 7},
                                         TChannelKeyCase{"TIMEOUT=", &TChannelConfig::Timeout, 100},
                                         TChannelKeyCase{"TCP_PORT_0=65536", &TChannelConfig::TCPPort0, 0},
                                         TChannelKeyCase{"TCP_PORT_1=-1", &TChannelConfig::TCPPort1, 65535},
                                         TChannelKeyCase{"TCP_PORT_1=99999999999", &TChannelConfig::TCPPort1, 502},
                                         TChannelKeyCase{"SLAVE_ADDRESS=17", &TChannelConfig::SlaveAddress, 17},
                                         TChannelKeyCase{"REPLIES=3", &TChannelConfig::Replies, 3},
                                         TChannelKeyCase{"ETH_RECV_TOUT=250", &TChannelConfig::EthRecvTout, 250},
                                         TChannelKeyCase{"ETH_CONN_TOUT=$FFFF", &TChannelConfig::EthConnTout, 65535}));

TEST_F(ConfigFileTest, AddressKeysFallBackToTheirDefaultWhenTheTextIsNotAnAddress)
{
    struct {
        const char* Line;
        TIPAddress Expected;
    } const cases[] = {
        {"ADDRESS=1.2.3", {192, 168, 127, 10}}, {"ADDRESS=300.1.1.1", {192, 168, 127, 10}},
        {"ADDRESS=", {192, 168, 127, 10}},      {"address = 10 .0 .0 .1 ", {10, 0, 0, 1}},
        {"ADDRESS=10.1.2.3", {10, 1, 2, 3}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadFrom(std::string("[ip]\r\n") + c.Line + "\r\n").Address, c.Expected) << c.Line;
    EXPECT_EQ(LoadFrom("[CHANNEL_0]\r\nIP_ADDRESS_1=1.2.3.4.5\r\n").Channels[0].IPAddress1,
              (TIPAddress{192, 168, 127, 2}));
    EXPECT_EQ(LoadFrom("[IP]\r\nTCP_PORT=65536\r\n").TCPPort, 0);
}

TModuleConfig RandomEditorRecord(std::mt19937& random)
{
    const auto in = [&random](int min, int max) { return std::uniform_int_distribution<int>(min, max)(random); };
    const auto address = [&in] {
        return TIPAddress{uint8_t(in(0, 255)), uint8_t(in(0, 255)), uint8_t(in(0, 255)), uint8_t(in(0, 255))};
    };
    TModuleConfig config;
    std::memset(&config, 0, sizeof config);
    config.Address = address();
    config.Gateway = address();
    config.NetMask = address();
    config.TCPPort = uint16_t(in(1, 65535));
    for (TChannelConfig& channel : config.Channels) {
        channel.SlaveAddress = uint16_t(in(0, 255));
        channel.BaudIndex = uint16_t(in(0, BaudRateCount - 1));
        channel.Parity = uint16_t(in(0, 2));
        channel.StopBits = uint16_t(in(0, 1));
        channel.Timeout = uint16_t(in(5, 1000));
        channel.Replies = 0;
        channel.IPAddress0 = address();
        channel.IPAddress1 = address();
        channel.EthRecvTout = uint16_t(in(5, 1000));
        channel.EthConnTout = uint16_t(in(5, 1000));
        channel.TCPPort0 = uint16_t(in(1, 65535));
        channel.TCPPort1 = uint16_t(in(1, 65535));
    }
    return config;
}

TEST_F(ConfigFileTest, RecordsSurviveAWriteAndReadBack)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 100; ++round) {
        TModuleConfig written = RandomEditorRecord(random);
        SaveConfigToFile(Name, written);
        TModuleConfig read = Filled(0xEE);
        ASSERT_TRUE(LoadConfigFromFile(Name, read));
        ASSERT_TRUE(SameBytes(read, written)) << "round " << round;
    }
}

TEST_F(ConfigFileTest, ReservedBytesAndTheChecksumAreNotStored)
{
    TModuleConfig written = LoadFrom("");
    written.Reserved1[0] = 1;
    written.Channels[1].Reserved[5] = 2;
    written.Reserved2[23] = 3;
    SetConfigCRC(written);
    SaveConfigToFile(Name, written);
    EXPECT_TRUE(SameBytes(LoadFrom(ReadBytes(Name)), LoadFrom("")));
}

TEST_F(ConfigFileTest, SavingIntoAnExistingFileKeepsWhatTheProgramDoesNotWrite)
{
    WriteBytes(Name, "; kept comment\r\n"
                     "[Notes]\r\n"
                     "owner=service\r\n"
                     "\r\n"
                     "[channel_0]\r\n"
                     "baudrate=9600\r\n"
                     "COMMENT=line A\r\n"
                     "\r\n"
                     "[Modbus]\n"
                     "TIMEOUT=50\n");
    TModuleConfig config = LoadFrom(ReadBytes(Name));
    EXPECT_EQ(config.Channels[0].BaudIndex, 4);

    config.Channels[0].BaudIndex = 5;
    SaveConfigToFile(Name, config);

    const std::string saved = ReadBytes(Name);
    EXPECT_TRUE(saved.starts_with(
        "; kept comment\r\n[Notes]\r\nowner=service\r\n\r\n[channel_0]\r\nbaudrate=19200\r\nCOMMENT=line "
        "A\r\nSLAVE_ADDRESS=0\r\n"))
        << saved;
    EXPECT_NE(saved.find("ETH_CONN_TOUT=100\r\n\r\n[Modbus]\nTIMEOUT=50\n[IP]\r\nGATEWAY="), std::string::npos)
        << saved;
    const auto count = [&saved](const std::string& text) {
        size_t n = 0;
        for (size_t at = saved.find(text); at != std::string::npos; at = saved.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("[channel_0]"), 1u);
    EXPECT_EQ(count("[CHANNEL_0]"), 0u);
    EXPECT_EQ(count("BAUDRATE="), 1u);  // only channel 1's: channel 0 kept its own spelling
    EXPECT_TRUE(SameBytes(LoadFrom(saved), config));
    EXPECT_EQ(TIniFile(Name).ReadString("MODBUS", "timeout", ""), "50");
}

TEST_F(ConfigFileTest, ABaudIndexOutsideTheTableIsSavedAsTheRateItWouldReadBackAs)
{
    TModuleConfig config = LoadFrom("");
    config.Channels[0].BaudIndex = BaudRateCount;
    config.Channels[1].BaudIndex = 0xFFFF;
    SaveConfigToFile(Name, config);
    const TIniFile ini(Name);
    EXPECT_EQ(ini.ReadString("CHANNEL_0", "BAUDRATE", ""), "115200");
    EXPECT_EQ(ini.ReadString("CHANNEL_1", "BAUDRATE", ""), "115200");
}

TEST_F(ConfigFileTest, AnExistingFileInAFolderThatTakesNoNewFileIsSavedInPlace)
{
    TModuleConfig config = LoadFrom(DefaultsFile);
    if (const std::string reason = MakeFolderRefuseNewFiles(Folder.Path(), Name); !reason.empty())
        GTEST_SKIP() << reason;
    config.Channels[1].TCPPort1 = 1502;
    SaveConfigToFile(Name, config);
    TModuleConfig read = Filled(0xEE);
    ASSERT_TRUE(LoadConfigFromFile(Name, read));
    EXPECT_TRUE(SameBytes(read, config));
}

// The keys a save of the defaults writes, in the order it writes them.
const std::string IPKeys =
    "GATEWAY=192.168.127.100\r\nNETMASK=255.255.255.0\r\nADDRESS=192.168.127.10\r\nTCP_PORT=502\r\n";
const std::string ChannelKeys =
    "SLAVE_ADDRESS=0\r\nBAUDRATE=115200\r\nPARITY=2\r\nSTOPBITS=2\r\nTIMEOUT=100\r\nREPLIES=0\r\n"
    "IP_ADDRESS_0=192.168.127.1\r\nTCP_PORT_0=502\r\nIP_ADDRESS_1=192.168.127.2\r\nTCP_PORT_1=502\r\n"
    "ETH_RECV_TOUT=100\r\nETH_CONN_TOUT=100\r\n";
const std::string Channels = "[CHANNEL_0]\r\n" + ChannelKeys + "[CHANNEL_1]\r\n" + ChannelKeys;

// The keys without the one the file already held, which is updated where it stands.
std::string Without(std::string keys, const std::string& key)
{
    const size_t at = keys.starts_with(key + "=") ? 0 : keys.find("\n" + key + "=") + 1;
    return keys.erase(at, keys.find('\n', at) + 1 - at);
}

// Existing files and what a save of the defaults makes of them: byte for byte what writing the keys
// one by one into the file made, each key changed where the first of its section has it, missing
// keys after the section's last line, missing sections at the end, everything else kept.
const struct {
    std::string Previous;
    std::string Saved;
} AwkwardFiles[] = {
    {"", "[IP]\r\n" + IPKeys + Channels},
    {"[IP]", "[IP]\r\n" + IPKeys + Channels},  // no line break at the end
    {"[IP]\r\nADDRESS=1.1.1.1", "[IP]\r\nADDRESS=192.168.127.10\r\n" + Without(IPKeys, "ADDRESS") + Channels},
    {"[IP]\n; only a comment\n", "[IP]\n; only a comment\n" + IPKeys + Channels},  // LF-only lines
    // CR-only: one long line, which is the header of an empty section
    {"[IP]\rADDRESS=1.1.1.1\r[CHANNEL_0]\rPARITY=1\r",
     "[IP]\rADDRESS=1.1.1.1\r[CHANNEL_0]\rPARITY=1\r\r\n" + IPKeys + Channels},
    // odd case, blanks, a duplicate key
    {"[ip]\r\n  address = 9.9.9.9  \r\nAddress=8.8.8.8\r\n",
     "[ip]\r\naddress=192.168.127.10\r\nAddress=8.8.8.8\r\n" + Without(IPKeys, "ADDRESS") + Channels},
    // a duplicate section
    {"[IP]\r\nGATEWAY=1.1.1.1\r\n[IP]\r\nNETMASK=2.2.2.2\r\n",
     "[IP]\r\n" + IPKeys + "[IP]\r\nNETMASK=2.2.2.2\r\n" + Channels},
    // blank lines separating sections, a quoted value
    {"[ Channel_1 ]\r\n\r\n\r\n[Channel_0]\r\nBAUDRATE=\"9600\"\r\n\r\n",
     "[ Channel_1 ]\r\n" + ChannelKeys + "\r\n\r\n[Channel_0]\r\nBAUDRATE=115200\r\n" +
         Without(ChannelKeys, "BAUDRATE") + "\r\n[IP]\r\n" + IPKeys},
    // foreign content, a commented header, a header without its bracket
    {"orphan=1\r\n;[IP]\r\n [CHANNEL_0\r\nTIMEOUT=5\r\n[Foreign]\r\nADDRESS=x\r\n",
     "orphan=1\r\n;[IP]\r\n [CHANNEL_0\r\nTIMEOUT=100\r\n" + Without(ChannelKeys, "TIMEOUT") +
         "[Foreign]\r\nADDRESS=x\r\n[IP]\r\n" + IPKeys + "[CHANNEL_1]\r\n" + ChannelKeys},
    // lines that are no keys, tabs, a blank last line without a break
    {"[Modbus]\r\nIPADDRESS=127.0.0.1\r\n\r\n[CHANNEL_1]\r\n=5\r\nnoequals\r\n\tREPLIES\t=\t3\t\r\n   \t",
     "[Modbus]\r\nIPADDRESS=127.0.0.1\r\n\r\n[CHANNEL_1]\r\n=5\r\nnoequals\r\nREPLIES=0\r\n" +
         Without(ChannelKeys, "REPLIES") + "   \t\r\n[IP]\r\n" + IPKeys + "[CHANNEL_0]\r\n" + ChannelKeys},
    // a CR before the CR LF belongs to the line; LF-only blank lines
    {"[IP]\r\r\nADDRESS=1.2.3.4\r\r\n[CHANNEL_0]\r\nSTOPBITS=1\n\n",
     "[IP]\r\r\nADDRESS=192.168.127.10\r\n" + Without(IPKeys, "ADDRESS") + "[CHANNEL_0]\r\nSTOPBITS=2\n" +
         Without(ChannelKeys, "STOPBITS") + "\n[CHANNEL_1]\r\n" + ChannelKeys},
    // a byte-order mark hides the header behind it; Windows-1251 bytes pass through
    {"\xEF\xBB\xBF[IP]\r\n[\xC8\xCC\xDF]\r\n\xEA\xEB=\xFF\r\n",
     "\xEF\xBB\xBF[IP]\r\n[\xC8\xCC\xDF]\r\n\xEA\xEB=\xFF\r\n[IP]\r\n" + IPKeys + Channels},
    {"\r\n\r\n[CHANNEL_0]\r\nSLAVE_ADDRESS=7\r\n[IP]\r\nTCP_PORT=1\r\n[channel_0]\r\nPARITY=0",
     "\r\n\r\n[CHANNEL_0]\r\n" + ChannelKeys + "[IP]\r\nTCP_PORT=502\r\n" + Without(IPKeys, "TCP_PORT") +
         "[channel_0]\r\nPARITY=0\r\n[CHANNEL_1]\r\n" + ChannelKeys},
};

TEST_F(ConfigFileTest, SavingIntoAwkwardFilesChangesOnlyTheKeysItWrites)
{
    const TModuleConfig defaults = LoadFrom("");
    for (const auto& file : AwkwardFiles) {
        WriteBytes(Name, file.Previous);
        SaveConfigToFile(Name, defaults);
        EXPECT_EQ(ReadBytes(Name), file.Saved) << "previous file: " << testing::PrintToString(file.Previous);
    }
}

// An existing 4 KiB file, one free 4 KiB page left on the disk, and a save whose values are longer:
// the save fails as a whole and the file keeps every byte; with room again it gives the same bytes
// as a save where the disk was never full.
TEST_F(ConfigFileTest, ASaveOntoAFullDiskChangesNothing)
{
    const std::filesystem::path disk = Folder.Path() / "disk";
    std::filesystem::create_directory(disk);
    constexpr size_t Page = 4096;
    if (const std::string reason = MountSmallFileSystem(disk, 16 * Page); !reason.empty())
        GTEST_SKIP() << reason;

    std::string previous = "[IP]\r\nGATEWAY=1.1.1.1\r\nNETMASK=1.1.1.1\r\nADDRESS=1.1.1.1\r\nTCP_PORT=1\r\n[Notes]\r\n";
    previous += std::string(Page - 40 - previous.size(), 'n') + "=1\r\n";
    const std::string name = (disk / "module.ini").string();
    WriteBytes(name, previous);
    const std::string filler = (disk / "filler").string();
    WriteBytes(filler, std::string(16 * Page, 'f'));
    std::filesystem::resize_file(filler, std::filesystem::file_size(filler) / Page * Page - Page);
    ASSERT_EQ(std::filesystem::space(disk).available, Page);

    const TModuleConfig defaults = LoadFrom("");
    try {
        SaveConfigToFile(name, defaults);
        ADD_FAILURE() << "the save did not fail";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + name);
    }
    EXPECT_EQ(ReadBytes(name), previous);
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(disk))
        entries.push_back(entry.path().filename());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"filler", "module.ini"}));

    std::filesystem::remove(filler);
    SaveConfigToFile(name, defaults);
    WriteBytes(Name, previous);
    SaveConfigToFile(Name, defaults);
    EXPECT_EQ(ReadBytes(name), ReadBytes(Name));
}

// Opening read the whole file again for every key it looked up and split it into lines each time:
// minutes for files of a few megabytes. The bound is generous, for the slowest build; the figures
// themselves are the benchmark's.
TEST_F(ConfigFileTest, LargeFilesOpenAndSaveInLinearTime)
{
    std::string manyKeys = "[CHANNEL_0]\r\n";
    for (int k = 0; k < 100000; ++k)
        manyKeys += "K" + std::to_string(k) + "=value\r\n";
    const std::string files[] = {manyKeys, std::string(4 << 20, '\n'), std::string(4 << 20, '\0')};
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& content : files) {
        TModuleConfig config = LoadFrom(content);
        config.TCPPort = 1502;
        SaveConfigToFile(Name, config);
        EXPECT_EQ(LoadFrom(ReadBytes(Name)).TCPPort, 1502);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(ConfigFileTest, AFailedSaveRaisesUnableToWrite)
{
    const std::string inMissingFolder = Folder.File("missing/module.ini");
    try {
        SaveConfigToFile(inMissingFolder, LoadFrom(""));
        FAIL() << "no error";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + inMissingFolder);
    }
}

}  // namespace
