// The client socket under the transport, against a Qt server on loopback: streams larger than what
// the system and the read limit hold at once arrive whole and in order, what a peer sent before it
// closed is read before the close is told, and no notification comes from inside a call.
#include "ClientSocket.h"
#include "Wait.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// A connected pair: the client socket under test and the server's end of it.
struct TConnected {
    QTcpServer Server;
    TClientSocket Client;
    QTcpSocket* Peer = nullptr;
    int Connects = 0;
    int Disconnects = 0;
    std::vector<int> Errors;
    bool InsideCall = false;
    bool NotifiedInsideCall = false;

    TConnected()
    {
        EXPECT_TRUE(Server.listen(QHostAddress::LocalHost, 0));
        Client.SetAddress("127.0.0.1");
        Client.SetPort(Server.serverPort());
        Client.OnConnect = [this] { Note(++Connects); };
        Client.OnDisconnect = [this] { Note(++Disconnects); };
        Client.OnError = [this](int& code) {
            Note(0);
            Errors.push_back(code - TClientSocket::SocketErrorBase);
            code = 0;
        };
    }

    bool Connect()
    {
        Client.SetActive(true);
        return WaitUntil([&] { return Connects == 1 && Server.hasPendingConnections(); }) &&
               (Peer = Server.nextPendingConnection()) != nullptr;
    }

    void Note(int)
    {
        if (InsideCall)
            NotifiedInsideCall = true;
    }
};

QByteArray Pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 251);
    return bytes;
}

}  // namespace

TEST(ClientSocket, AStreamLargerThanTheReadLimitArrivesWholeAndInOrder)
{
    TConnected pair;
    ASSERT_TRUE(pair.Connect());
    const QByteArray sent = Pattern(1024 * 1024);
    pair.Peer->write(sent);

    // Nothing is read at first (no reader): the socket takes no more than its limit.
    ASSERT_TRUE(WaitUntil([&] { return pair.Client.ReceiveLength() >= qint64(TClientSocket::ReadBufferLimit); }));
    EXPECT_EQ(pair.Client.ReceiveLength(), qint64(TClientSocket::ReadBufferLimit));

    // Then whatever is held is taken, again and again, until all has come.
    QByteArray received;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::vector<char> chunk(size_t(pair.Client.ReceiveLength()));
            pair.InsideCall = true;
            received.append(chunk.data(), pair.Client.ReceiveBuf(chunk.data(), int(chunk.size())));
            pair.InsideCall = false;
            return received.size() == sent.size();
        },
        std::chrono::seconds(20)))
        << received.size() << " of " << sent.size();
    EXPECT_EQ(received, sent);
    EXPECT_FALSE(pair.NotifiedInsideCall);
}

TEST(ClientSocket, WhatThePeerDoesNotReadYetIsSentLaterInOrder)
{
    TConnected pair;
    ASSERT_TRUE(pair.Connect());
    // Far more than the system's buffers take while the peer reads nothing.
    const QByteArray sent = Pattern(32 * 1024 * 1024);
    pair.InsideCall = true;
    for (int at = 0; at < sent.size(); at += 64 * 1024)
        ASSERT_EQ(pair.Client.SendBuf(sent.constData() + at, 64 * 1024), 64 * 1024);
    pair.InsideCall = false;

    QByteArray received;
    ASSERT_TRUE(WaitUntil(
        [&] {
            received += pair.Peer->readAll();
            return received.size() >= sent.size();
        },
        std::chrono::seconds(20)))
        << received.size() << " of " << sent.size();
    EXPECT_EQ(received, sent);
    EXPECT_TRUE(pair.Errors.empty());
    EXPECT_FALSE(pair.NotifiedInsideCall);
}

TEST(ClientSocket, BytesSentBeforeThePeerClosedAreReadBeforeTheCloseIsTold)
{
    TConnected pair;
    ASSERT_TRUE(pair.Connect());
    QByteArray received;
    int disconnectsWhenRead = -1;
    pair.Client.OnRead = [&] {
        std::vector<char> chunk(size_t(pair.Client.ReceiveLength()));
        received.append(chunk.data(), pair.Client.ReceiveBuf(chunk.data(), int(chunk.size())));
        disconnectsWhenRead = pair.Disconnects;
    };
    pair.Peer->write("last words");
    pair.Peer->disconnectFromHost();

    ASSERT_TRUE(WaitUntil([&] { return !pair.Errors.empty(); }));
    EXPECT_EQ(received, "last words");
    EXPECT_EQ(disconnectsWhenRead, 0);
    EXPECT_EQ(pair.Disconnects, 1);
    EXPECT_EQ(pair.Errors, std::vector<int>{QAbstractSocket::RemoteHostClosedError});
    EXPECT_FALSE(pair.Client.Active());

    // A send on the closed connection fails, and is told as closed from the event loop.
    pair.InsideCall = true;
    EXPECT_EQ(pair.Client.SendBuf("x", 1), -1);
    pair.InsideCall = false;
    ASSERT_TRUE(WaitUntil([&] { return pair.Errors.size() == 2; }));
    EXPECT_EQ(pair.Errors.back(), QAbstractSocket::RemoteHostClosedError);
    EXPECT_FALSE(pair.NotifiedInsideCall);
}

TEST(ClientSocket, ClosingDropsWhatWasQueuedForTheClosedConnection)
{
    TConnected pair;
    ASSERT_TRUE(pair.Connect());
    pair.Client.OnRead = [] { FAIL() << "read after close"; };
    pair.Peer->write("late");
    pair.Peer->disconnectFromHost();
    pair.Client.SetActive(false);

    // Reconnecting proves the event loop ran on; nothing of the old connection was told meanwhile.
    pair.Connects = 0;
    ASSERT_TRUE(pair.Connect());
    EXPECT_EQ(pair.Disconnects, 0);
    EXPECT_TRUE(pair.Errors.empty());
}
