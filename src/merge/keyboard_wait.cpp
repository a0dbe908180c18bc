#include "keyboard_wait.h"

#include <cstdio>

void waitForCharacter() {
    std::fflush(stdout);
    std::getchar();
}

void waitForInteger() {
    std::fflush(stdout);
    int ignored = 0;
    if (std::scanf("%d", &ignored) != 1) {
        return;
    }
}
