/* korvel-bench-server: a minimal libmodbus server for korvel-bench, so that the clients are
 * measured against a peer whose own cost is as small as a server's can be. It serves unit 255,
 * holding registers 78..140, one connection at a time, on 127.0.0.1 at the port given (a free
 * one without an argument), which it prints on its first line. It runs until it is terminated. */
#include <modbus/modbus.h>

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

enum { UnitId = 255, FirstRegister = 78, RegisterCount = 63 };

int main(int argc, char* argv[])
{
    const int port = argc > 1 ? atoi(argv[1]) : 0;
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    modbus_mapping_t* registers = modbus_mapping_new_start_address(0, 0, 0, 0, FirstRegister, RegisterCount, 0, 0);
    if (context == NULL || registers == NULL || modbus_set_slave(context, UnitId) != 0) {
        fprintf(stderr, "korvel-bench-server: %s\n", modbus_strerror(errno));
        return 1;
    }
    for (int i = 0; i < RegisterCount; ++i)
        registers->tab_registers[i] = (uint16_t)(0x0101 * i);

    const int listener = modbus_tcp_listen(context, 1);
    struct sockaddr_in address;
    socklen_t length = sizeof address;
    if (listener < 0 || getsockname(listener, (struct sockaddr*)&address, &length) != 0) {
        fprintf(stderr, "korvel-bench-server: cannot listen on 127.0.0.1: %s\n", modbus_strerror(errno));
        return 1;
    }
    printf("%u\n", (unsigned)ntohs(address.sin_port));
    fflush(stdout);

    uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
        int listening = listener;
        const int connection = modbus_tcp_accept(context, &listening);
        if (connection < 0)
            continue;
        const int noDelay = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        for (;;) {
            const int received = modbus_receive(context, request);
            if (received < 0)
                break;
            if (received > 0)
                modbus_reply(context, request, received, registers);
        }
        close(connection);
    }
}
