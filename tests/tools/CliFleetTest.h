#pragma once
// The ground of korvel-cli's tests: simulated modules listening on loopback, a folder for the files
// a run reads and writes, and a port on which nothing listens.

#include "ModuleSimServer.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// A port on which nothing listens: taken from the system, then let go.
inline quint16 ClosedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// The file, with the bytes, in the folder of a test's files; its path.
inline QString WriteTestFile(const QTemporaryDir& folder, const QString& name, const QByteArray& bytes)
{
    const QString path = folder.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

// Three modules, each on its own port.
class TCliFleetTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(Modules.emplace_back(std::make_unique<TModuleSimServer>())->Listen(QHostAddress::LocalHost, 0));
    }

    QString Host(size_t index) const { return QString("127.0.0.1:%1").arg(Modules[index]->Port()); }

    QString WriteFile(const QString& name, const QByteArray& bytes) { return WriteTestFile(Folder, name, bytes); }

    // Requests the modules have answered, all together.
    int RequestCount() const
    {
        int count = 0;
        for (const auto& module : Modules)
            count += module->RequestCount();
        return count;
    }

    QTemporaryDir Folder;
    std::vector<std::unique_ptr<TModuleSimServer>> Modules;
};
