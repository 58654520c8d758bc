#include "control/quelmar.h"

int main(int argc, char** argv) {
    return quelmar_main(argc, argv);
}
