// A program that only waits: the tests start copies of it under names of their choosing and end
// them. Ends by itself after a minute so that nothing outlives a crashed test for long.
#include <windows.h>

int main() {
    Sleep(60000);
    return 0;
}
