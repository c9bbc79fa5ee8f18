// qvtool: the command-line driver (being built up; prints the version).
#include <libquivelmarine/version.h>

#include <cstdio>

int main()
{
    std::printf("libquivelmarine version %s\n", qv_version(nullptr));
    return 0;
}
