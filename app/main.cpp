// Placeholder until the screens exist: the run command already builds and
// starts this program.
#include <cstdio>

int main() {
    std::puts("ぽすとん: the reception screens are not built yet.");
    return 0;
}
