/* The least a sender can do: connect, write the request bytes read from a
 * file, read to the end of the stream. The benchmark's yardstick. */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: min-sender PORT REQUEST-FILE\n");
        return 2;
    }
    char request[65536];
    int file = open(argv[2], O_RDONLY);
    ssize_t size = file < 0 ? -1 : read(file, request, sizeof request);
    if (size < 0)
        return 2;
    close(file);

    int sock = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in to = {0};
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)atoi(argv[1]));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, (struct sockaddr*)&to, sizeof to) != 0)
        return 9;
    if (write(sock, request, (size_t)size) != size)
        return 9;
    char reply[4096];
    while (read(sock, reply, sizeof reply) > 0) {
    }
    close(sock);
    return 0;
}
