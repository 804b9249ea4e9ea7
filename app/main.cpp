#include "QuilvoVidrevoApp.h"

int main(int argc, char** argv) {
    return RunQuilvoVidrevoApp(argc, argv);
}
