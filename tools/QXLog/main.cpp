#include "LogApp.h"

int main(int argc, char** argv) {
    return qxlog::RunLogApp(argc, argv);
}
