/* The least work of any conversion run: read the whole table, create the output file and write
 * as many bytes as the run's output has, from one buffer reused throughout (few pages touched).
 *     floor TABLE OUTPUT BYTES
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static char buf[1 << 18];

int main(int argc, char** argv) {
    if (argc != 4) {
        fputs("usage: floor TABLE OUTPUT BYTES\n", stderr);
        return 2;
    }
    int in = open(argv[1], O_RDONLY);
    if (in < 0) return 1;
    ssize_t n;
    while ((n = read(in, buf, sizeof buf)) > 0) {
    }
    if (n < 0) return 1;
    close(in);

    int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) return 1;
    for (long long left = atoll(argv[3]); left > 0; left -= n) {
        n = write(out, buf, left < (long long)sizeof buf ? (size_t)left : sizeof buf);
        if (n <= 0) return 1;
    }
    return close(out) != 0;
}
