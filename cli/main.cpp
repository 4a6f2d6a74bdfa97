#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vokta-cli %s\n", VOKTA_VERSION);
            return 0;
        }
    }
    std::printf("usage: vokta-cli [--help] [--version]\n");
    return 0;
}
