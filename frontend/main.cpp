#include <cstdio>
#include <exception>

#include "OrvaneFrontEnd.h"

int main(int argc, char** argv) {
    try {
        OrvaneFrontEnd frontEnd(argc, argv);
        return frontEnd.run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Error! %s\n", e.what());
        return -1;
    }
}
