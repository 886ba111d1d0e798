// korvel-bare-qt: the least a QtCore + QtNetwork program does for korvel-cli's --version and info,
// the yardstick of its start-up. "--version" prints a line; "info HOST PORT" reads the module's
// information and configuration registers in one request, as info does, and prints the words.
#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpSocket>

#include <cstdio>

namespace {

// Unit 255, function 3, registers 78..139: the request korvel-cli info sends.
constexpr unsigned char ReadModuleRequest[] = {0, 1, 0, 0, 0, 6, 255, 3, 0, 78, 0, 62};
constexpr qint64 ReplyLength = 9 + 62 * 2;

int ReadModule(const QString& host, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(host), port);
    if (!socket.waitForConnected(3000))
        return 1;
    socket.write(reinterpret_cast<const char*>(ReadModuleRequest), sizeof ReadModuleRequest);
    QByteArray reply;
    while (reply.size() < ReplyLength && socket.waitForReadyRead(3000))
        reply += socket.readAll();
    if (reply.size() < ReplyLength)
        return 1;
    for (qint64 at = 9; at < ReplyLength; at += 2)
        std::printf("%02X%02X ", unsigned(uchar(reply[at])), unsigned(uchar(reply[at + 1])));
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 2 && arguments[1] == "--version") {
        std::printf("korvel-bare-qt %s\n", qVersion());
        return 0;
    }
    if (arguments.size() == 4 && arguments[1] == "info")
        return ReadModule(arguments[2], quint16(arguments[3].toUInt()));
    std::fprintf(stderr, "usage: korvel-bare-qt --version | info HOST PORT\n");
    return 2;
}
