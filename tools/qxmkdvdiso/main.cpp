#include "MkDvdIso.h"

int main(int argc, char** argv) {
    return MkDvdIsoMain(argc, argv);
}
