// A BlastServer in a process of its own, for tests whose hostile sender must not share
// the client's process: blast-host STATUS BYTES [chunked]
// answers every request with "HTTP/1.1 STATUS" and BYTES filler bytes of body (announced,
// or chunked with the last chunk), prints "port <number>" once it listens, and stops when
// its standard input ends.

#include "loopback-http/BlastServer.h"

#include <cstdio>
#include <cstring>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: blast-host STATUS BYTES [chunked]\n");
        return 2;
    }
    const bool chunked = argc > 3 && std::strcmp(argv[3], "chunked") == 0;
    const qint64 bytes = QByteArray(argv[2]).toLongLong();
    kovra::loopback::BlastAnswer answer;
    answer.head = "HTTP/1.1 " + QByteArray(argv[1]) + "\r\nContent-Type: application/json\r\n"
                + (chunked ? QByteArray("Transfer-Encoding: chunked") : "Content-Length: " + QByteArray::number(bytes))
                + "\r\n\r\n";
    answer.fillerBytes = bytes;
    answer.chunked = chunked;
    kovra::loopback::BlastServer server(answer);
    if (!server.isListening())
        return 1;
    std::printf("port %d\n", server.url().port());
    std::fflush(stdout);
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    return 0;
}
