// HOST, RANGE and host files as korvel-cli reads them: by the decimal rule, and nothing else.
#include "ModuleAddress.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

TEST(ModuleAddress, HostsAreReadByTheDecimalRuleAndPrintedPlain)
{
    struct TCase {
        const char* Text;
        bool Ok;
        const char* Address;
        uint16_t Port;
    };
    const TCase cases[] = {
        {"10.0.0.5", true, "10.0.0.5", 502},
        {"10.0.0.5:1502", true, "10.0.0.5", 1502},
        {"010.000.000.005", true, "10.0.0.5", 502},  // leading zeros are decimal, never octal
        {"10.0.0.5:0", false, "", 0},
        {"10.0.0.5:65536", false, "", 0},
        {"10.0.0.5:", false, "", 0},
        {"10.0.0.5:+12", false, "", 0},
        {"10.0.0", false, "", 0},
        {"10.0.0.256", false, "", 0},
        {"10.0 .0.5", false, "", 0},
        {"10.0.0.$A", false, "", 0},
        {"10.0.0x10.5", false, "", 0},
        {"10.0.-0.5", false, "", 0},
        {"module.local", false, "", 0},
        {"", false, "", 0},
    };
    for (const TCase& c : cases) {
        TModuleAddress address;
        ASSERT_EQ(ParseModuleAddress(c.Text, 502, address), c.Ok) << c.Text;
        if (!c.Ok)
            continue;
        EXPECT_EQ(address.Address, c.Address) << c.Text;
        EXPECT_EQ(address.Port, c.Port) << c.Text;
    }
}

TEST(ModuleAddress, RangesListTheirHostsUpToTheLimit)
{
    struct TCase {
        const char* Text;
        size_t Count;  // 0: refused
        const char* First;
        const char* Last;
    };
    const TCase cases[] = {
        {"10.0.0.0/24", 254, "10.0.0.1", "10.0.0.254"},
        {"10.0.0.77/24", 254, "10.0.0.1", "10.0.0.254"},
        {"10.0.0.8/31", 2, "10.0.0.8", "10.0.0.9"},
        {"10.0.0.8/32", 1, "10.0.0.8", "10.0.0.8"},
        {"10.0.0.0/20", 4094, "10.0.0.1", "10.0.15.254"},
        {"10.0.0.0/19", 0, "", ""},
        {"10.0.0.5-10.0.0.40", 36, "10.0.0.5", "10.0.0.40"},
        {"10.0.0.255-10.0.1.1", 3, "10.0.0.255", "10.0.1.1"},
        {"10.0.0.40-10.0.0.5", 0, "", ""},
        {"10.0.0.0/33", 0, "", ""},
        {"10.0.0.0/", 0, "", ""},
        {"10.0.0.1", 0, "", ""},
    };
    for (const TCase& c : cases) {
        std::vector<TModuleAddress> addresses;
        std::string error;
        ASSERT_EQ(ParseAddressRange(c.Text, 1502, addresses, error), c.Count != 0) << c.Text;
        if (c.Count == 0) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        ASSERT_EQ(addresses.size(), c.Count) << c.Text;
        EXPECT_EQ(addresses.front().Address, c.First);
        EXPECT_EQ(addresses.back().Address, c.Last);
        EXPECT_EQ(addresses.back().Port, 1502);
    }
}

TEST(ModuleAddress, HostFilesSkipCommentsAndNameTheBadLine)
{
    QTemporaryDir folder;
    const std::string good = folder.filePath("good.txt").toStdString();
    std::ofstream(good) << "# cabinet 3\n127.0.0.11\n\n  127.0.0.12:1503  # spare\r\n";
    std::vector<TModuleAddress> addresses;
    std::string error;
    ASSERT_TRUE(ReadHostsFile(good, 1502, addresses, error)) << error;
    ASSERT_EQ(addresses.size(), 2u);
    EXPECT_EQ(addresses[0].Text(), "127.0.0.11:1502");
    EXPECT_EQ(addresses[1].Text(), "127.0.0.12:1503");

    const std::string bad = folder.filePath("bad.txt").toStdString();
    std::ofstream(bad) << "127.0.0.11\n127.0.0.300\n";
    EXPECT_FALSE(ReadHostsFile(bad, 1502, addresses, error));
    EXPECT_EQ(error, bad + ":2: неверный адрес 127.0.0.300");

    // A folder opens as a stream but cannot be read: not a file without hosts.
    const std::string folderName = folder.path().toStdString();
    EXPECT_FALSE(ReadHostsFile(folderName, 1502, addresses, error));
    EXPECT_EQ(error, "Ошибка открытия файла " + folderName);
}
