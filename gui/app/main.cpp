#include "app/application.h"

int main(int argc, char** argv) {
    return RunSelvar(argc, argv);
}
