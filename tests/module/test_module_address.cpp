// HOST, RANGE and host files as korvel-cli reads them: by the decimal rule, and nothing else.
#include "CommandFile.h"
#include "ModuleAddress.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <thread>
#include <unistd.h>

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
        {"10.0.0.1", 1, "10.0.0.1", "10.0.0.1"},
        {"10.0.0.1:502", 0, "", ""},
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

namespace {

std::string FdPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

// A host list may come from a pipe, but neither a huge file, a device without end, a writer that
// never stops nor a terminal nobody types into is read for ever.
TEST(ModuleAddress, HostFilesAreReadNoFurtherThanTheLimit)
{
    QTemporaryDir folder;
    const std::string hosts = "127.0.0.11\n";
    const auto padded = [&](size_t size) {
        const std::string name = folder.filePath(QString::number(size)).toStdString();
        std::ofstream(name) << hosts << '#' << std::string(size - hosts.size() - 2, 'x') << '\n';
        return name;
    };
    std::vector<int> held;  // ends the cases keep open until the end
    const auto tooLarge = [](const std::string& name) {
        return "Файл " + name + " слишком велик: допускается не более 1048576 байт";
    };
    const struct {
        const char* What;
        std::function<std::string()> Name;
        std::function<std::string(const std::string&)> Error;  // empty: read
    } cases[] = {
        {"a file of the limit", [&] { return padded(MaxCommandFileSize); }, {}},
        {"one byte more", [&] { return padded(MaxCommandFileSize + 1); }, tooLarge},
        {"a device without end", [] { return std::string("/dev/zero"); }, tooLarge},
        {"a pipe whose writer has finished",
         [&] {
             int ends[2];
             EXPECT_EQ(::pipe(ends), 0);
             EXPECT_EQ(::write(ends[1], hosts.data(), hosts.size()), ssize_t(hosts.size()));
             ::close(ends[1]);
             held.push_back(ends[0]);
             return FdPath(ends[0]);
         },
         {}},
        {"a terminal with nothing typed",
         [&] {
             const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
             if (terminal >= 0)
                 held.push_back(terminal);
             if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0)
                 return std::string("/dev/null");  // no terminals here: an empty list instead
             return std::string(::ptsname(terminal));
         },
         [](const std::string& name) { return name == "/dev/null" ? std::string() : "Ошибка открытия файла " + name; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const std::string name = c.Name();
        const std::string expected = c.Error ? c.Error(name) : std::string();
        std::vector<TModuleAddress> addresses;
        std::string error;
        EXPECT_EQ(ReadHostsFile(name, 1502, addresses, error), expected.empty());
        EXPECT_EQ(error, expected);
        if (expected.empty() && name != "/dev/null") {
            EXPECT_EQ(addresses.size(), 1u);
        }
    }
    for (int end : held)
        ::close(end);
}

TEST(ModuleAddress, AWriterThatNeverStopsIsCutOffAtTheLimit)
{
    std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::thread writer([out = ends[1]] {
        std::string lines;
        for (int i = 0; i < 4096; ++i)
            lines += "127.0.0.11\n";
        while (::write(out, lines.data(), lines.size()) > 0) {}
        ::close(out);
    });
    std::vector<TModuleAddress> addresses;
    std::string error;
    const std::string name = FdPath(ends[0]);
    EXPECT_FALSE(ReadHostsFile(name, 1502, addresses, error));
    EXPECT_EQ(error, "Файл " + name + " слишком велик: допускается не более 1048576 байт");
    ::close(ends[0]);  // the writer's next write fails: it ends
    writer.join();
}
