#include "QxAuthorTool.h"

int main(int argc, char** argv) {
    return QxAuthorMain(argc, argv);
}
