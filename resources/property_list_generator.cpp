// Writes the property-list resource's bytes to the file named on the command
// line, for the resource compiler to embed. Runs on the build machine; the
// bytes come from property_list.h, so they are the same on every machine.
#include <cstdio>

#include "resources/property_list.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argc > 0 ? argv[0] : "property_list_generator");
        return 2;
    }
    static constexpr auto kBytes = vemra::PropertyListBytes();
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(kBytes.data(), 1, kBytes.size(), file) == kBytes.size();
    // A failed close can lose buffered bytes: it counts as a failed write.
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "%s: could not write the property list\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
